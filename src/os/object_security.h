// Security descriptors the agent gives the objects it creates, and what it reads back of the
// objects it finds. Descriptors cross the ports as SDDL text, so the portable code decides
// who gets what and the host fakes can record it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

inline constexpr std::string_view kSidLocalSystem = "S-1-5-18";
inline constexpr std::string_view kSidAdministrators = "S-1-5-32-544";

// Files only SYSTEM and Administrators may open, with no entries inherited from the folder
// (the agent's folder lets every user read).
inline constexpr std::string_view kSystemAndAdminsFile = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
// A pipe only SYSTEM and Administrators may connect to.
inline constexpr std::string_view kSystemAndAdminsPipe = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
// A named event only SYSTEM and Administrators may open (EVENT_ALL_ACCESS).
inline constexpr std::string_view kSystemAndAdminsEvent =
    "D:P(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)";

// The service object: interactive and service users may read and query it (the settings
// program shows the state); starting, stopping, pausing and the user-defined controls are for
// SYSTEM and Administrators only, since every one of those controls steers the monitoring.
inline constexpr std::string_view kServiceDacl =
    "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    "(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLORC;;;SU)";

// One entry of a discretionary access list as the system holds it.
struct AccessEntry {
  bool deny = false;   // an access-denied entry; every other kind is taken as granting
  std::uint32_t mask = 0;
  std::string sid;     // "S-1-..."; empty when the entry names no plain SID
};

// An object's discretionary access list.
struct ObjectSecurity {
  bool hasDacl = false;  // false: a NULL DACL, which grants everyone everything
  std::vector<AccessEntry> entries;
  std::string sddl;      // the whole list as SDDL, for people to read
};

}  // namespace orv::os
