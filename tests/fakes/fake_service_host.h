// A stand-in control manager for the service process: the dispatcher runs the service main
// on the calling thread, and the test sends controls through the registered handler.
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_helpers.h"
#include "os/service_host.h"

namespace orv::fakes {

class FakeServiceHost final : public os::ServiceHost {
 public:
  os::OsError RunDispatcher(std::string_view /*entryName*/,
                            os::ServiceMainCallback serviceMain) override {
    serviceMain(args);
    return os::kSuccess;
  }

  os::StatusHandle RegisterControlHandler(std::string_view serviceName,
                                          os::ControlHandlerCallback handlerFn, void* context,
                                          os::OsError& error) override {
    registeredName = std::string(serviceName);
    error = registerError;
    if (registerError != os::kSuccess) return 0;
    handler_ = handlerFn;
    context_ = context;
    return kStatusHandle;
  }

  os::OsError ReportStatus(os::StatusHandle handle, const os::ServiceStatusRecord& status) override {
    if (handle != kStatusHandle) return os::kErrorInvalidHandle;
    statuses_.Add(status);
    return statusError;
  }

  os::OsResult<os::DeviceNotification> RegisterDeviceInterfaceNotification(os::StatusHandle handle) override {
    if (handle != kStatusHandle) return os::kErrorInvalidHandle;
    ++notificationsRegistered;
    return std::make_unique<Subscription>(notificationsUnregistered);
  }

  // Delivers a control as the control manager's dispatcher thread would.
  std::uint32_t SendControl(std::uint32_t control, std::uint32_t eventType = 0) {
    return handler_ ? handler_(control, eventType, nullptr, context_) : 1;
  }

  std::vector<os::ServiceStatusRecord> Statuses() const { return statuses_.Items(); }
  os::ServiceStatusRecord LastStatus() const {
    const auto statuses = statuses_.Items();
    return statuses.empty() ? os::ServiceStatusRecord{} : statuses.back();
  }

  // Waits, in real time but bounded, until a status with `state` has been reported.
  bool WaitForState(std::uint32_t state, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return statuses_.WaitUntil([state](const auto& statuses) {
      return std::any_of(statuses.begin(), statuses.end(), [state](const auto& s) { return s.currentState == state; });
    }, timeout);
  }

  static constexpr os::StatusHandle kStatusHandle = 0x5151;

  std::vector<std::string> args;
  std::string registeredName;
  os::OsError registerError = os::kSuccess;
  os::OsError statusError = os::kSuccess;
  int notificationsRegistered = 0;
  int notificationsUnregistered = 0;

 private:
  Record<os::ServiceStatusRecord> statuses_;
  // Counts its own end, as the control manager would see the unsubscription.
  class Subscription final : public os::DeviceNotification {
   public:
    explicit Subscription(int& ended) : ended_(ended) {}
    ~Subscription() override { ++ended_; }

   private:
    int& ended_;
  };

  os::ControlHandlerCallback handler_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace orv::fakes
