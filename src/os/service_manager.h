// Client side of the service control manager: open, create, delete, control and query
// services. Access masks are the control manager's own numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "os/object_security.h"
#include "os/os_error.h"
#include "os/os_result.h"
#include "os/service_host.h"

namespace orv::os {

inline constexpr std::uint32_t kScManagerConnect = 0x0001;
inline constexpr std::uint32_t kScManagerCreateService = 0x0002;
inline constexpr std::uint32_t kServiceQueryConfig = 0x0001;
inline constexpr std::uint32_t kServiceChangeConfig = 0x0002;
inline constexpr std::uint32_t kServiceQueryStatus = 0x0004;
inline constexpr std::uint32_t kServiceStop = 0x0020;
inline constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr std::uint32_t kDeleteAccess = 0x10000;
inline constexpr std::uint32_t kGenericExecute = 0x20000000;
inline constexpr std::uint32_t kReadControl = 0x20000;
inline constexpr std::uint32_t kWriteDac = 0x40000;

// What QueryServiceConfig tells of a service.
struct ServiceConfig {
  std::uint32_t serviceType = 0;
  std::uint32_t startType = 0;
  std::uint32_t errorControl = 0;
  std::string binaryPath;
  std::string displayName;
  std::string account;
};

struct ServiceCreation {
  std::string name;
  std::string displayName;
  std::uint32_t access = kServiceAllAccess;
  std::uint32_t serviceType = 0;
  std::uint32_t startType = 0;
  std::uint32_t errorControl = 0;
  std::string binaryPath;
  std::string dependencies;  // empty: none
  std::string account;       // empty: LocalSystem
  std::string password;
};

// An open service; closed when destroyed.
class ScmService {
 public:
  virtual ~ScmService() = default;
  virtual OsError Delete() = 0;
  virtual OsError Control(std::uint32_t control, ServiceStatusRecord& status) = 0;
  virtual OsError SetDescription(std::string_view description) = 0;
  virtual OsError QueryStatus(ServiceStatusRecord& status) = 0;
  virtual OsError QueryConfig(ServiceConfig& config) = 0;

  // --- The service object's access list (needs kReadControl, and kWriteDac to set) ---
  // Reads the discretionary access list; the error leaves `security` unchanged.
  virtual OsError QuerySecurity(ObjectSecurity& security) = 0;
  // Replaces the discretionary access list with the one `sddl` describes.
  virtual OsError SetSecurity(std::string_view sddl) = 0;
};

// An open connection to the control manager; closed when destroyed.
class ScmConnection {
 public:
  virtual ~ScmConnection() = default;
  virtual OsResult<ScmService> OpenExisting(std::string_view name, std::uint32_t access) = 0;
  virtual OsResult<ScmService> AddService(const ServiceCreation& creation) = 0;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual OsResult<ScmConnection> Connect(std::uint32_t access) = 0;
};

}  // namespace orv::os
