// Test switches: files service staff drop next to the agent's executable to provoke failure
// paths ("SVS_TESTMODE_1" to "SVS_TESTMODE_8", no extension).
#pragma once

#include <array>
#include <string_view>

#include "os/file_system.h"
#include "os/system_info.h"

namespace orv::service {

inline constexpr std::array<std::string_view, 8> kTestModeSwitches = {
    "SVS_TESTMODE_1", "SVS_TESTMODE_2", "SVS_TESTMODE_3", "SVS_TESTMODE_4",
    "SVS_TESTMODE_5", "SVS_TESTMODE_6", "SVS_TESTMODE_7", "SVS_TESTMODE_8"};

// True when `name` is one of the eight switches and a file (not a folder) of exactly that name
// exists in the executable's folder. Any other name, or an unknown executable path, gives false.
bool IsTestMode(std::string_view name, os::FileSystem& files, os::SystemInfo& system);

}  // namespace orv::service
