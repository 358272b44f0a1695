// RunCommand: runs a console command hidden and collects what it prints.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "os/process_launcher.h"
#include "os/system_info.h"

namespace orv {

inline constexpr std::uint32_t kRunCommandSliceMs = 10'000;
inline constexpr int kRunCommandMaxSlices = 40;
// The commands the agent runs print well under a kilobyte and only a version text is looked
// for in them; one full pipe buffer is more than enough and bounds what a runaway child costs.
inline constexpr std::size_t kRunCommandMaxOutputBytes = 64 * 1024;

// The command's standard output and error as UTF-8, at most kRunCommandMaxOutputBytes of it:
// decoded from UTF-16LE when it printed that (as wmic.exe does into a pipe), else from the ANSI
// code page. The pipe is read once per slice. A command still running after 40 slices of 10 s
// is ended and the text gets a closing note. A command that cannot be started gives
// "NG: <command line> <error in hex>"; without an output pipe nothing runs and the text is empty.
// `stopRequested`, when given, is asked after every slice: a stopping service ends the command
// as if its time were up, rather than waiting out its 400 s.
std::string RunCommand(os::ProcessLauncher& launcher, os::SystemInfo& system,
                       std::string_view commandLine,
                       const std::function<bool()>& stopRequested = nullptr);

}  // namespace orv
