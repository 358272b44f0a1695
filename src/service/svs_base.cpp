#include "service/svs_base.h"

#include <cstdio>

#include "platform/agent_event_ids.h"
#include "platform/text_encoding.h"
#include "service/service_identity.h"

namespace orv {
namespace {

constexpr std::uint32_t kWorkerJoinTimeoutMs = 10000;
constexpr std::uint32_t kStartPendingWaitHintMs = 5000;

bool IsSettledState(std::uint32_t state) {
  return state == kServiceStopped || state == kServiceRunning || state == kServicePaused;
}

}  // namespace

SvsBase::SvsBase(const os::OsPorts& os, std::string_view name, std::string_view displayName,
                 std::uint32_t serviceType)
    : os_(os),
      serviceName_(CutToUtf16Units(name, kNameBufferUnits)),
      displayName_(CutToUtf16Units(displayName, kNameBufferUnits)),
      serviceType_(serviceType) {}

SvsBase::~SvsBase() = default;

void SvsBase::StartWorker(WorkerThreadProc proc) {
  auto worker = os_.sync.StartThread([proc] { proc(); });
  if (!worker) ReportError("_beginthreadex", ErrorReport::LogAndEnd, worker.error());
  worker_ = std::move(worker).take();
}

void SvsBase::WorkerLoop() {
  std::array<os::Event*, kControlEventCount> events{};
  for (std::size_t i = 0; i < kControlEventCount; ++i) events[i] = controlEvents_[i].get();

  for (;;) {
    const std::uint32_t index = os_.sync.WaitAny(events, os::kInfinite);
    // A failed wait would fail again at once: end rather than spin.
    if (index >= kControlEventCount) return;
    bool endLoop = false;
    switch (static_cast<ControlEvent>(index)) {
      case kStopEvent:
        OnStop();
        endLoop = true;
        break;
      case kPauseEvent:
        OnPause();
        break;
      case kContinueEvent:
        OnContinue();
        break;
      case kShutdownEvent:
        OnShutdown();
        endLoop = true;
        break;
      case kParamChangeEvent:
        OnParamChange();
        break;
      case kDeviceEvent:
        OnDeviceEvent(deviceEventType_.load());
        break;
      case kHardwareProfileEvent:
        OnHardwareProfileChange();
        break;
      case kPowerEvent:
        OnPowerEvent(powerEventType_.load());
        break;
      case kPreShutdownEvent:
        OnPreShutdown();
        break;
      case kControlEventCount:
        break;
    }
    controlEvents_[index]->Reset();
    if (endLoop) return;
  }
}

void SvsBase::CreateControlEvents() {
  for (auto& event : controlEvents_) {
    auto created = os_.sync.NewEvent(os::EventReset::Auto, {});
    if (!created) ReportError("CreateEvent", ErrorReport::LogAndEnd, created.error());
    event = std::move(created).take();
  }
}

void SvsBase::Init() {}

void SvsBase::Cleanup() {
  if (worker_) {
    worker_->Join(kWorkerJoinTimeoutMs);
    worker_.reset();
  }
  for (auto& event : controlEvents_) event.reset();
  deviceNotification_.reset();
}

void SvsBase::ParseArgs(const std::vector<std::string>& /*args*/) {}
void SvsBase::OnPause() {}
void SvsBase::OnContinue() {}
void SvsBase::OnShutdown() {}
void SvsBase::OnPreShutdown() {}
void SvsBase::OnParamChange() {}
void SvsBase::OnDeviceEvent(std::uint32_t /*eventType*/) {}
void SvsBase::OnHardwareProfileChange() {}
void SvsBase::OnPowerEvent(std::uint32_t /*eventType*/) {}
void SvsBase::OnUserControl(std::uint32_t /*control*/, std::uint32_t /*eventType*/,
                            void* /*eventData*/) {}

void SvsBase::ServiceMain(const std::vector<std::string>& args,
                          os::ControlHandlerCallback handler, WorkerThreadProc workerProc) {
  CreateControlEvents();

  os::OsError error = os::kSuccess;
  statusHandle_ = os_.serviceHost.RegisterControlHandler(serviceName_, handler, this, error);
  if (statusHandle_ == 0) {
    ReportError("RegisterServiceCtrlHandler", ErrorReport::LogAndEnd, error);
  } else {
    auto notification = os_.serviceHost.RegisterDeviceInterfaceNotification(statusHandle_);
    if (!notification) {
      ReportError("RegisterDeviceNotification", ErrorReport::LogAndEnd, notification.error());
    }
    deviceNotification_ = std::move(notification).take();
    SetStatus(kServiceStartPending, 1, kStartPendingWaitHintMs);
  }

  ParseArgs(args);
  StartWorker(workerProc);
  Init();
  Run();
  Cleanup();
  SetStatus(kServiceStopped, 0, 0, 0, 0, 0);
}

void SvsBase::SetStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                        std::uint32_t controlsAccepted, std::uint32_t win32ExitCode,
                        std::uint32_t serviceExitCode) {
  if (state != kServiceStopped) {
    win32ExitCode = 0;
    serviceExitCode = 0;
  }
  if (IsSettledState(state)) {
    checkPoint = 0;
    waitHint = 0;
  } else if (checkPoint == 0 || waitHint == 0) {
    ReportError("CSvsBase::SetStatus: Pending statuses require a hint and checkpoint", ErrorReport::LogAndEnd,
                0);
  }

  os::ServiceStatusRecord record;
  {
    std::lock_guard lock(statusLock_);
    currentState_ = state;
    if (checkPoint != kKeep) checkPoint_ = checkPoint;
    if (waitHint != kKeep) waitHint_ = waitHint;
    if (controlsAccepted != kKeep) controlsAccepted_ = controlsAccepted;
    record.serviceType = serviceType_;
    record.currentState = currentState_;
    record.controlsAccepted = controlsAccepted_;
    record.win32ExitCode = win32ExitCode;
    record.serviceSpecificExitCode = serviceExitCode;
    record.checkPoint = checkPoint_;
    record.waitHint = waitHint_;
  }
  const os::OsError error = os_.serviceHost.ReportStatus(statusHandle_, record);
  if (error != os::kSuccess) ReportError("SetServiceStatus", ErrorReport::LogAndEnd, error);
}

std::uint32_t SvsBase::ControlHandler(std::uint32_t control, std::uint32_t eventType,
                                      void* eventData, void* /*context*/) {
  const bool userCode = control >= 128 && control <= 255;
  if (control == lastControl_ && !userCode) return 0;

  const auto signal = [this](ControlEvent event) {
    if (controlEvents_[event]) controlEvents_[event]->Set();
  };
  switch (control) {
    case kControlStop:
      lastControl_ = control;
      signal(kStopEvent);
      break;
    case kControlPause:
      lastControl_ = control;
      signal(kPauseEvent);
      break;
    case kControlContinue:
      if (CurrentState() == kServiceRunning) break;
      lastControl_ = control;
      signal(kContinueEvent);
      break;
    case kControlInterrogate:
      SetStatus(CurrentState());
      break;
    case kControlShutdown:
      lastControl_ = control;
      signal(kShutdownEvent);
      break;
    case kControlParamChange:
      signal(kParamChangeEvent);
      break;
    case kControlDeviceEvent:
      deviceEventType_.store(eventType);
      signal(kDeviceEvent);
      break;
    case kControlHardwareProfileChange:
      signal(kHardwareProfileEvent);
      break;
    case kControlPowerEvent:
      powerEventType_.store(eventType);
      signal(kPowerEvent);
      break;
    case kControlPreShutdown:
      lastControl_ = control;
      signal(kPreShutdownEvent);
      break;
    default:
      lastControl_ = control;
      OnUserControl(control, eventType, eventData);
      break;
  }
  return 0;
}

std::uint32_t SvsBase::ReportError(std::string_view callName, ErrorReport report, os::OsError code) {
  std::string text(callName);
  if (code != os::kSuccess) {
    const std::string systemText = os_.system.ErrorText(code);
    if (systemText.empty()) {
      char number[16];
      std::snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(code));
      text.append(" failed: Unknown error ").append(number);
    } else {
      text.append(" failed: ").append(systemText);
    }
  } else {
    text.push_back('\n');
  }
  text = CutToUtf16Units(text, kErrorTextBufferUnits);

  if (report != ErrorReport::Silent) os_.eventReporter.Report(displayName_, os::EventKind::Error, event_id::kFrameworkError, text);
  if (report == ErrorReport::LogAndEnd) os_.process.FatalExit(code);
  return code;
}

std::uint32_t SvsBase::CurrentState() const {
  std::lock_guard lock(statusLock_);
  return currentState_;
}

}  // namespace orv
