// A stand-in control manager for the service process: the dispatcher runs the service main
// on the calling thread, and the test sends controls through the registered handler.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "os/service_host.h"

namespace orv::fakes {

class FakeServiceHost final : public os::ServiceHost {
 public:
  os::OsError RunDispatcher(std::string_view entryName,
                            os::ServiceMainCallback serviceMain) override {
    dispatchEntry = std::string(entryName);
    if (dispatcherError != os::kSuccess) return dispatcherError;
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
    std::lock_guard lock(mutex_);
    if (handle != kStatusHandle) return os::kErrorInvalidHandle;
    statuses_.push_back(status);
    statusChanged_.notify_all();
    return statusError;
  }

  os::OsResult<os::DeviceNotification> RegisterDeviceInterfaceNotification(os::StatusHandle handle) override {
    if (notificationError != os::kSuccess) return notificationError;
    if (handle != kStatusHandle) return os::kErrorInvalidHandle;
    ++notificationsRegistered;
    return std::make_unique<Subscription>(notificationsUnregistered);
  }

  // Delivers a control as the control manager's dispatcher thread would.
  std::uint32_t SendControl(std::uint32_t control, std::uint32_t eventType = 0) {
    return handler_ ? handler_(control, eventType, nullptr, context_) : 1;
  }
  bool HandlerRegistered() const { return handler_ != nullptr; }

  std::vector<os::ServiceStatusRecord> Statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  os::ServiceStatusRecord LastStatus() const {
    std::lock_guard lock(mutex_);
    return statuses_.empty() ? os::ServiceStatusRecord{} : statuses_.back();
  }

  // Waits, in real time but bounded, until a status with `state` has been reported.
  bool WaitForState(std::uint32_t state, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return statusChanged_.wait_for(lock, timeout, [&] {
      for (const auto& status : statuses_) {
        if (status.currentState == state) return true;
      }
      return false;
    });
  }

  static constexpr os::StatusHandle kStatusHandle = 0x5151;

  std::vector<std::string> args;
  std::string dispatchEntry;
  std::string registeredName;
  os::OsError dispatcherError = os::kSuccess;
  os::OsError registerError = os::kSuccess;
  os::OsError notificationError = os::kSuccess;
  os::OsError statusError = os::kSuccess;
  int notificationsRegistered = 0;
  int notificationsUnregistered = 0;

 private:
  mutable std::mutex mutex_;
  std::condition_variable statusChanged_;
  std::vector<os::ServiceStatusRecord> statuses_;
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
