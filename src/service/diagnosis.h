// `ORVSVC.exe -diag`: what the agent would do now and why, for a support engineer at the
// appliance's console.
//
// Everything here only reads: no registry value, pool file, event-log entry, request, pipe or
// child process, so it is safe beside the running service and leaves nothing to clean up.
#pragma once

#include <string>

#include "os/os_ports.h"

namespace orv {

// The whole report as UTF-8 text with CR LF line ends; never fails (what cannot be read says so).
std::string DiagnosisText(const os::OsPorts& os);

}  // namespace orv
