#include "service/orv_svc_ctrl.h"

#include "report/agent_ctrl_upload.h"
#include "service/service_identity.h"
#include "service/service_instance.h"

namespace orv {
namespace {

constexpr std::uint32_t kRunningControls =
    kAcceptStop | kAcceptShutdown | kAcceptParamChange | kAcceptPowerEvent | kAcceptPreShutdown;
constexpr std::uint32_t kStopWaitHintMs = 6000;
constexpr std::uint32_t kStopSliceMs = 5000;

constexpr std::uint32_t kPowerSuspend = 4;
constexpr std::uint32_t kPowerResumeSuspend = 7;
constexpr std::uint32_t kPowerResumeAutomatic = 18;

constexpr std::uint32_t kEventServiceStarted = 0x4000044C;

}  // namespace

CORVSvcCtrl::CORVSvcCtrl(const os::OsPorts& os, std::string_view name,
                         std::string_view displayName, std::uint32_t serviceType)
    : SvsBase(os, name, displayName, serviceType), log_(os.eventReporter, os.system) {
  SetServiceInstance(this);
}

CORVSvcCtrl::~CORVSvcCtrl() {
  if (GetServiceInstance() == this) SetServiceInstance(nullptr);
}

void CORVSvcCtrl::Init() {
  for (std::size_t i = 0; i < kControllerEventCount; ++i) {
    const bool named = i == kControllerEventCount - 1;
    os::OsError error = os::kSuccess;
    events_[i] = os_.sync.NewEvent(true, false, named ? kPowerManagerEventName : "", error);
    if (!events_[i]) ReportError("CreateEvent", true, true, error);
  }
}

void CORVSvcCtrl::Cleanup() {
  SvsBase::Cleanup();
  for (auto& event : events_) event.reset();
}

void CORVSvcCtrl::OnPreShutdown() {
  preShutdown_ = 1;
  OnStop();
}

void CORVSvcCtrl::OnParamChange() { SetEvent(kParamChangeEvent); }

void CORVSvcCtrl::OnPowerEvent(std::uint32_t eventType) {
  if (eventType == kPowerSuspend) {
    SetEvent(kSuspendedEvent);
  } else if (eventType == kPowerResumeSuspend || eventType == kPowerResumeAutomatic) {
    ClearEvent(kSuspendedEvent);
  }
}

void CORVSvcCtrl::OnUserControl(std::uint32_t control, std::uint32_t /*eventType*/,
                                void* /*eventData*/) {
  if (control >= kFirstUserControl && control <= kLastUserControl) {
    SetEvent(static_cast<ControllerEvent>(kUserControl128Event + (control - kFirstUserControl)));
  }
}

void CORVSvcCtrl::Run() {
  SetStatus(kServiceRunning, 0, 0, kRunningControls);
  log_.Information(kEventServiceStarted, "Orvaneエージェントサービスが開始しました。");

  // The pool, the definition file and the identity every message carries; re-read at every
  // reading of the agent's state.
  AgentCtrl_Upload upload(os_);
  upload.Initialize();

  // Until the monitoring loops exist the agent only waits for its stop request.
  if (os::Event* stopRequest = events_[kStopRequestEvent].get()) {
    os::Event* const waitList[] = {stopRequest};
    while (os_.sync.WaitAny(waitList, os::kInfinite) == os::kWaitTimeout) {
    }
  }
  SetEvent(kStoppedEvent);
}

void CORVSvcCtrl::OnStop() {
  std::uint32_t checkPoint = 1;
  SetStatus(kServiceStopPending, checkPoint, kStopWaitHintMs);
  SetEvent(kStopRequestEvent);
  os::Event* const stopped = events_[kStoppedEvent].get();
  if (stopped == nullptr) return;
  os::Event* const waitList[] = {stopped};
  while (os_.sync.WaitAny(waitList, kStopSliceMs) == os::kWaitTimeout) {
    SetStatus(kServiceStopPending, ++checkPoint, kStopWaitHintMs);
  }
}

void CORVSvcCtrl::SetEvent(ControllerEvent event) {
  if (events_[event]) events_[event]->Set();
}

void CORVSvcCtrl::ClearEvent(ControllerEvent event) {
  if (events_[event]) events_[event]->Reset();
}

}  // namespace orv
