// RunCommand: runs a console command hidden and collects what it prints.
#pragma once

#include <string>
#include <string_view>

#include "os/process_launcher.h"
#include "os/system_info.h"

namespace orv {

inline constexpr std::uint32_t kRunCommandSliceMs = 10'000;
inline constexpr int kRunCommandMaxSlices = 40;

// The command's standard output and error as UTF-8: decoded from UTF-16LE when it printed
// that (as wmic.exe does into a pipe), else from the ANSI code page. A command still running
// after 40 slices of 10 s is ended and the text gets a closing note. A command that cannot be
// started gives "NG: <command line> <error in hex>".
std::string RunCommand(os::ProcessLauncher& launcher, os::SystemInfo& system,
                       std::string_view commandLine);

}  // namespace orv
