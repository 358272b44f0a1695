// What the program does when started: install, remove, or run as the service.
#pragma once

#include <string_view>

#include "os/os_ports.h"

namespace orv {

enum class EntryAction { Install, Remove, Diagnose, RunService };

// Switches are found anywhere in the whole command line, in any case, so "/x-INSTALL" also
// installs; "-install" wins over "-remove". "-diag" is looked for the same way but only after
// the program path, so a service installed in a folder such as "C:\x-diag\" still runs.
EntryAction SelectEntryAction(std::string_view commandLine);

// Carries out the action for `commandLine` (program path included); the process exit code.
int RunProgram(const os::OsPorts& os, std::string_view commandLine);

}  // namespace orv
