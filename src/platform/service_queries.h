// Questions about other services, asked through the control manager.
//
// Each opens the control manager and the service, closes both before returning, and stores
// the system error code in `error` (when given): the failure's code, 0 on success.
#pragma once

#include <cstdint>
#include <string_view>

#include "os/service_manager.h"

namespace orv {

// The current state reported by the control manager; 0 on any failure.
std::uint32_t QueryServiceState(os::ServiceManager& manager, std::string_view name,
                                os::OsError* error = nullptr);
bool IsServiceRunning(os::ServiceManager& manager, std::string_view name);
// The configured start type; 0 on failure.
std::uint32_t QueryStartType(os::ServiceManager& manager, std::string_view name,
                             os::OsError* error = nullptr);
bool IsServiceInstalled(os::ServiceManager& manager, std::string_view name,
                        os::OsError* error = nullptr);
// The service's configuration (start type, binary path, ...), opened for querying only;
// false and `config` unchanged on failure.
bool ReadServiceConfig(os::ServiceManager& manager, std::string_view name, os::ServiceConfig& config,
                       os::OsError* error = nullptr);

}  // namespace orv
