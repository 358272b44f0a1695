// SvsBase: a small reusable Windows service framework.
//
// Three threads meet here. The dispatcher's thread runs ControlHandler, which only records
// the control and signals one of nine auto-reset events; the worker thread waits on those
// events and turns each into a virtual call; the service main thread runs ServiceMain and, in
// it, the derived class's Run. The status block is shared and lives under a mutex;
// SetServiceStatus is called outside it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_ports.h"

namespace orv {

// The worker thread procedure: a plain function that reaches the process's service object.
using WorkerThreadProc = void (*)();

class SvsBase {
 public:
  // Passed as checkpoint, wait hint or controls: keep the stored value.
  static constexpr std::uint32_t kKeep = 0xFFFFFFFF;
  static constexpr std::size_t kNameBufferUnits = 257;
  static constexpr std::size_t kErrorTextBufferUnits = 562;

  // The nine control events, in the order the worker waits on them.
  enum ControlEvent : std::size_t {
    kStopEvent,
    kPauseEvent,
    kContinueEvent,
    kShutdownEvent,
    kParamChangeEvent,
    kDeviceEvent,
    kHardwareProfileEvent,
    kPowerEvent,
    kPreShutdownEvent,
    kControlEventCount
  };

  SvsBase(const os::OsPorts& os, std::string_view name, std::string_view displayName,
          std::uint32_t serviceType);
  SvsBase(const SvsBase&) = delete;
  SvsBase& operator=(const SvsBase&) = delete;
  virtual ~SvsBase();

  // Starts the worker thread running `proc`; a failure is fatal.
  virtual void StartWorker(WorkerThreadProc proc);
  // The worker thread's body: turns signalled control events into calls until stop/shutdown.
  virtual void WorkerLoop();
  // Creates the nine control events; a failure is fatal.
  virtual void CreateControlEvents();
  virtual void Init();
  // Waits for the worker at most 10000 ms and releases what ServiceMain acquired; never fails.
  virtual void Cleanup();
  virtual void ParseArgs(const std::vector<std::string>& args);
  virtual void OnPause();
  virtual void OnContinue();
  virtual void OnShutdown();
  virtual void OnPreShutdown();
  virtual void OnParamChange();
  virtual void OnDeviceEvent(std::uint32_t eventType);
  virtual void OnHardwareProfileChange();
  virtual void OnPowerEvent(std::uint32_t eventType);
  // Runs on the dispatcher's thread: an override may only signal.
  virtual void OnUserControl(std::uint32_t control, std::uint32_t eventType, void* eventData);
  // The service body; returns when the service is to end.
  virtual void Run() = 0;
  virtual void OnStop() = 0;

  // The service's life from handler registration to the final stopped status.
  void ServiceMain(const std::vector<std::string>& args, os::ControlHandlerCallback handler,
                   WorkerThreadProc workerProc);
  // Reports a status; kKeep keeps checkpoint, wait hint or controls. A pending state without
  // checkpoint and wait hint, or a failed report, is fatal.
  void SetStatus(std::uint32_t state, std::uint32_t checkPoint = kKeep,
                 std::uint32_t waitHint = kKeep, std::uint32_t controlsAccepted = kKeep,
                 std::uint32_t win32ExitCode = 0, std::uint32_t serviceExitCode = 0);
  // Records and signals; always answers success to the control manager.
  std::uint32_t ControlHandler(std::uint32_t control, std::uint32_t eventType, void* eventData,
                               void* context);
  // What ReportError does with the failure text besides composing it.
  enum class ErrorReport { Silent, Log, LogAndEnd };
  // Composes the failure text, logs it under the display name and, if asked, ends the
  // process; returns `code`.
  std::uint32_t ReportError(std::string_view callName, ErrorReport report, os::OsError code);

  std::uint32_t CurrentState() const;
  const std::string& ServiceName() const { return serviceName_; }
  const std::string& DisplayName() const { return displayName_; }

 protected:
  os::OsPorts os_;

 private:
  mutable std::mutex statusLock_;
  os::StatusHandle statusHandle_ = 0;
  std::unique_ptr<os::DeviceNotification> deviceNotification_;
  std::uint32_t currentState_ = 0;
  std::uint32_t controlsAccepted_ = 0;
  std::uint32_t checkPoint_ = 0;
  std::uint32_t waitHint_ = 0;
  // Touched by the dispatcher's thread only.
  std::uint32_t lastControl_ = 0;
  // Written by the dispatcher's thread before the event is signalled, read by the worker.
  std::atomic<std::uint32_t> deviceEventType_{0};
  std::atomic<std::uint32_t> powerEventType_{0};
  std::array<std::unique_ptr<os::Event>, kControlEventCount> controlEvents_;
  std::unique_ptr<os::Thread> worker_;
  std::string serviceName_;
  std::string displayName_;
  std::uint32_t serviceType_;
};

}  // namespace orv
