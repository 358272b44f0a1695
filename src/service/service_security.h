// Who may steer the service. Windows gives a new service a list that lets every interactive
// user send it user-defined controls, and each of the agent's controls steers the monitoring
// (stops it for good, sends reports, starts an update check, makes SYSTEM connect to a pipe).
// The agent's own list (os::kServiceDacl) keeps reading and querying for everyone who could
// before and leaves the controls to SYSTEM and Administrators.
#pragma once

#include <string>
#include <string_view>

#include "os/object_security.h"
#include "os/os_ports.h"

namespace orv {

// True when the list lets anyone other than SYSTEM and Administrators do more than read and
// query the service (a NULL list lets everyone do everything).
bool GrantsMoreThanReadToOthers(const os::ObjectSecurity& security);

enum class ServiceDaclCheck {
  AlreadyNarrow,  // nothing to do
  Narrowed,       // the list granted more and was replaced by the agent's
  Failed,         // the list could not be read or replaced
};

// The running service's own check at start: an installation made before the agent set its
// list at install time still has the system's default one.
ServiceDaclCheck NarrowServiceDacl(const os::OsPorts& os, std::string_view serviceName);

// The service's list as SDDL for the diagnosis, or why it could not be read.
std::string DescribeServiceDacl(const os::OsPorts& os, std::string_view serviceName);

}  // namespace orv
