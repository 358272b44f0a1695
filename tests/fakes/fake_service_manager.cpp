#include "fakes/fake_service_manager.h"

namespace orv::fakes {
namespace {

class Service final : public os::ScmService {
 public:
  Service(FakeServiceManager& manager, std::string name) : manager_(manager), name_(std::move(name)) {
    ++manager_.openHandles;
  }
  ~Service() override { --manager_.openHandles; }

  os::OsError Delete() override {
    return manager_.services.erase(name_) == 1 ? os::kSuccess : os::kErrorServiceMarkedForDelete;
  }
  os::OsError Control(std::uint32_t control, os::ServiceStatusRecord& status) override {
    return On(os::kSuccess, [&](FakeService& service) {
      service.controlsReceived.push_back(control);
      status = service.status;
    });
  }
  os::OsError SetDescription(std::string_view description) override {
    return On(os::kSuccess, [&](FakeService& service) { service.description = std::string(description); });
  }
  os::OsError QueryStatus(os::ServiceStatusRecord& status) override {
    return On(os::kSuccess, [&](FakeService& service) { status = service.status; });
  }
  os::OsError QueryConfig(os::ServiceConfig& config) override {
    return On(manager_.queryConfigError, [&](FakeService& service) { config = service.config; });
  }
  os::OsError QuerySecurity(os::ObjectSecurity& security) override {
    return On(manager_.querySecurityError, [&](FakeService& service) { security = service.security; });
  }
  os::OsError SetSecurity(std::string_view sddl) override {
    return On(manager_.setSecurityError, [&](FakeService& service) {
      // What a query reads back afterwards: the agent's own list.
      service.security = {true,
                          {{false, 0xF01FF, std::string(os::kSidAdministrators)},
                           {false, 0x201FD, std::string(os::kSidLocalSystem)},
                           {false, 0x2008D, "S-1-5-4"},
                           {false, 0x2008D, "S-1-5-6"}},
                          std::string(sddl)};
      ++service.securitySets;
    });
  }

 private:
  // `act` on the service, unless `forced` fails the call or the service was deleted meanwhile.
  template <typename Act>
  os::OsError On(os::OsError forced, Act act) {
    if (forced != os::kSuccess) return forced;
    const auto it = manager_.services.find(name_);
    if (it == manager_.services.end()) return os::kErrorServiceDoesNotExist;
    act(it->second);
    return os::kSuccess;
  }
  FakeServiceManager& manager_;
  std::string name_;
};

class Connection final : public os::ScmConnection {
 public:
  explicit Connection(FakeServiceManager& manager) : manager_(manager) { ++manager_.openHandles; }
  ~Connection() override { --manager_.openHandles; }

  os::OsResult<os::ScmService> OpenExisting(std::string_view name, std::uint32_t access) override {
    manager_.openAccesses.push_back(access);
    if (manager_.openError != os::kSuccess) return manager_.openError;
    if (!manager_.services.contains(std::string(name))) return os::kErrorServiceDoesNotExist;
    return std::make_unique<Service>(manager_, std::string(name));
  }

  os::OsResult<os::ScmService> AddService(const os::ServiceCreation& creation) override {
    if (manager_.createError != os::kSuccess) return manager_.createError;
    if (manager_.services.contains(creation.name)) return os::kErrorServiceExists;
    FakeService& service = manager_.services[creation.name];
    service.config = {creation.serviceType, creation.startType, creation.errorControl,
                      creation.binaryPath,  creation.displayName,
                      creation.account.empty() ? "LocalSystem" : creation.account};
    service.status.serviceType = creation.serviceType;
    service.status.currentState = 1;
    return std::make_unique<Service>(manager_, creation.name);
  }

 private:
  FakeServiceManager& manager_;
};

}  // namespace

// What Windows gives a service created without a descriptor: interactive (S-1-5-4) and
// service (S-1-5-6) users may send the user-defined controls.
os::ObjectSecurity FakeService::DefaultSecurity() {
  return {true,
          {{false, 0x201FD, std::string(os::kSidLocalSystem)},
           {false, 0xF01FF, std::string(os::kSidAdministrators)},
           {false, 0x2018D, "S-1-5-4"},
           {false, 0x2018D, "S-1-5-6"}},
          "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
          "(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)"};
}

os::OsResult<os::ScmConnection> FakeServiceManager::Connect(std::uint32_t access) {
  connectAccesses.push_back(access);
  if (connectError != os::kSuccess) return connectError;
  return std::make_unique<Connection>(*this);
}

}  // namespace orv::fakes
