// An in-memory service database for install, remove and the service queries.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "os/service_manager.h"

namespace orv::fakes {

struct FakeService {
  os::ServiceConfig config;
  std::string description;
  os::ServiceStatusRecord status;
  std::vector<std::uint32_t> controlsReceived;

  // The access list: what a query reads; SetSecurity stores the SDDL it is given in `sddl`
  // and counts the call. A new service gets the system's default list.
  os::ObjectSecurity security = DefaultSecurity();
  int securitySets = 0;
  static os::ObjectSecurity DefaultSecurity();
};

class FakeServiceManager final : public os::ServiceManager {
 public:
  os::OsResult<os::ScmConnection> Connect(std::uint32_t access) override;

  std::map<std::string, FakeService> services;  // by name as created
  os::OsError connectError = os::kSuccess;
  os::OsError openError = os::kSuccess;    // forced failure of every service opening
  os::OsError createError = os::kSuccess;
  os::OsError queryConfigError = os::kSuccess;  // forced failure of every configuration query
  std::vector<std::uint32_t> connectAccesses;
  std::vector<std::uint32_t> openAccesses;
  int openHandles = 0;  // connections and services not yet closed

  // Access-list failures a test can provoke.
  os::OsError querySecurityError = os::kSuccess;
  os::OsError setSecurityError = os::kSuccess;
};

}  // namespace orv::fakes
