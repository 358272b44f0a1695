#include "service/orv_svc_ctrl.h"

#include "model/pipe_records.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"
#include "platform/trusted_event.h"
#include "report/agent_ctrl_upload.h"
#include "service/monitoring_session.h"
#include "service/service_security.h"
#include "service/settings_notifier.h"
#include "service/software_update.h"
#include "service/service_identity.h"
#include "service/service_instance.h"
#include "webapi/agent_ctrl_webapi.h"
#include "platform/agent_event_ids.h"

namespace orv {
namespace {

constexpr std::uint32_t kRunningControls =
    kAcceptStop | kAcceptShutdown | kAcceptParamChange | kAcceptPowerEvent | kAcceptPreShutdown;
constexpr std::uint32_t kStopWaitHintMs = 6000;
constexpr std::uint32_t kStopSliceMs = 5000;
constexpr std::uint32_t kSuspendStepMs = 500;
constexpr int kNetworkQuestions = 6;
constexpr std::uint32_t kNetworkPauseMs = 5000;

constexpr std::uint32_t kPowerSuspend = 4;
constexpr std::uint32_t kPowerResumeSuspend = 7;
constexpr std::uint32_t kPowerResumeAutomatic = 18;


constexpr std::int64_t kMsPerHour = 3'600'000;
constexpr std::int64_t kMsPerDay = 24 * kMsPerHour;

// The events the loops wait on, in the order a wait looks at them: when several are set, the
// earliest wins, so a stop is served before anything else.
using Ev = CORVSvcCtrl::ControllerEvent;
constexpr std::array<Ev, 11> kWaitOrder = {
    Ev::kStopRequestEvent,     Ev::kParamChangeEvent,     Ev::kSuspendedEvent,       Ev::kUserControl128Event,
    Ev::kUserControl129Event,  Ev::kUserControl130Event,  Ev::kUserControl131Event,  Ev::kUserControl132Event,
    Ev::kUserControl133Event,  Ev::kUserControl134Event,  Ev::kUserControl135Event,
};

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
    auto event = named ? NewAgentNamedEvent(os_.sync, log_, os::EventReset::Manual, kPowerManagerEventName)
                       : os_.sync.NewEvent(os::EventReset::Manual, "");
    // One another user created first is not waited on (it was logged): the service runs on an
    // unnamed event, which only the sleep handshake would have set.
    if (named && !event && event.error() == os::kErrorAccessDenied) {
      event = os_.sync.NewEvent(os::EventReset::Manual, "");
    }
    if (!event) ReportError("CreateEvent", ErrorReport::LogAndEnd, event.error());
    events_[i] = std::move(event).take();
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

void CORVSvcCtrl::RequestStop() { SetEvent(kStopRequestEvent); }

void CORVSvcCtrl::OnStop() {
  std::uint32_t checkPoint = 1;
  SetStatus(kServiceStopPending, checkPoint, kStopWaitHintMs);
  RequestStop();
  // A request to the cloud in progress ends now rather than after its time-outs.
  os_.http.CancelExchanges();
  os::Event* const stopped = events_[kStoppedEvent].get();
  if (stopped == nullptr) return;
  os::Event* const waitList[] = {stopped};
  while (os_.sync.WaitAny(waitList, kStopSliceMs) == os::kWaitTimeout) {
    SetStatus(kServiceStopPending, ++checkPoint, kStopWaitHintMs);
  }
}

void CORVSvcCtrl::Run() {
  // Before the controls are accepted: an installation older than the agent's own access list
  // still lets every interactive user send them. A failure leaves the list as it was; the
  // monitoring does not depend on it.
  (void)NarrowServiceDacl(os_, ServiceName());
  SetStatus(kServiceRunning, 0, 0, kRunningControls);
  log_.Information(event_id::kServiceStarted, "Orvaneエージェントサービスが開始しました。");
  // A stop during start-up ends it between its steps; the loops would only see it later.
  WaitForNetwork();
  if (StopRequested()) {
    SetEvent(kStoppedEvent);
    return;
  }
  useProductionHost_ = AgentCtrl_WebAPI(os_).SelectHost() == 1 ? 0 : 1;

  AgentCtrl_Upload upload(os_);
  if (DailyCheck(upload, CheckTime::AtStart) == DailyOutcome::UpdateStarted || StopRequested()) {
    SetEvent(kStoppedEvent);
    return;
  }
  ReadState(upload);

  for (;;) {
    LoopExit exit = LoopExit::EndService;
    switch (state_) {
      case AgentState::Unregistered:
        exit = RunUnregistered(upload);
        break;
      case AgentState::Monitoring:
      case AgentState::MonitoringWithoutRegistration:
        exit = RunMonitoring(upload);
        break;
      case AgentState::MonitoringStopped:
        exit = RunMonitoringStopped(upload);
        break;
      case AgentState::Undecided:
        break;
    }
    if (exit == LoopExit::RereadState) {
      ReadState(upload);
    } else if (exit != LoopExit::Redispatch) {
      break;
    }
  }
  SetEvent(kStoppedEvent);
}

void CORVSvcCtrl::WaitForNetwork() {
  for (int question = 0; question < kNetworkQuestions; ++question) {
    if (os_.system.IsNetworkAlive() || WaitForStop(kNetworkPauseMs)) return;
  }
}

void CORVSvcCtrl::SetState(AgentState state) {
  state_ = state;
  const RegHandle status(os_.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
  // A stopped monitor is not turned back into monitoring by a failed request.
  if (status.GetDword("ServiceStatus") == 3 && state == AgentState::MonitoringWithoutRegistration) {
    return;
  }
  (void)status.SetDword("ServiceStatus", static_cast<std::uint32_t>(state));
}

void CORVSvcCtrl::ReadState(AgentCtrl_Upload& upload) {
  upload.Initialize();
  if (!upload.HasDeviceId()) {
    SetState(AgentState::Unregistered);
    return;
  }
  const RegHandle status(os_.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
  if (status.GetDword("ServiceStatus") == 3) {
    SetState(AgentState::MonitoringStopped);
  } else if (state_ == AgentState::MonitoringWithoutRegistration) {
    SetState(AgentState::MonitoringWithoutRegistration);
  } else {
    SetState(AgentState::Monitoring);
  }
}

std::int64_t CORVSvcCtrl::Now() { return ToCalendarMilliseconds(os_.clock.LocalNow()); }

std::int64_t CORVSvcCtrl::NextStatusTime(std::int64_t now, std::uint32_t statusSecond,
                                         std::uint32_t outputInterval) {
  std::int64_t next = now - now % kMsPerHour + std::int64_t{statusSecond} * 1000;
  const std::int64_t step = std::int64_t{outputInterval == 0 ? 1 : outputInterval} * 1000;
  if (next < now) next += (now - next + step - 1) / step * step;
  return next;
}

std::int64_t CORVSvcCtrl::NextDailyTime(std::int64_t now, std::uint32_t dailySecond) {
  std::int64_t next = now - now % kMsPerDay + 22 * kMsPerHour + std::int64_t{dailySecond} * 1000;
  if (next < now) next += (now - next + kMsPerDay - 1) / kMsPerDay * kMsPerDay;
  return next;
}

void CORVSvcCtrl::SetEvent(ControllerEvent event) {
  if (events_[event]) events_[event]->Set();
}

void CORVSvcCtrl::ClearEvent(ControllerEvent event) {
  if (events_[event]) events_[event]->Reset();
}

bool CORVSvcCtrl::IsSet(ControllerEvent event) {
  if (!events_[event]) return false;
  os::Event* const list[] = {events_[event].get()};
  return os_.sync.WaitAny(list, 0) == 0;
}

bool CORVSvcCtrl::StopRequested() { return IsSet(kStopRequestEvent); }

bool CORVSvcCtrl::WaitForStop(std::uint32_t ms) {
  os::Event* const stop = events_[kStopRequestEvent].get();
  if (stop == nullptr) {
    os_.clock.Sleep(ms);
    return false;
  }
  os::Event* const list[] = {stop};
  return os_.sync.WaitAny(list, ms) == 0;
}

bool CORVSvcCtrl::SleepWhileSuspended() {
  // The worker serves a stop before a resume that follows it, so only the stop can end this
  // sleep then: without it the service would wait for a resume that never comes.
  while (IsSet(kSuspendedEvent)) {
    if (WaitForStop(kSuspendStepMs)) return false;
  }
  return true;
}

void CORVSvcCtrl::NotifySettingsProgram() {
  service::PipeNotice notice;
  notice.result = 1;
  SettingsNotifier(os_).Notify(notice);
}

SoftwareCheck CORVSvcCtrl::CheckLatestSoftware(AgentCtrl_Upload& upload) {
  log_.Information(event_id::kSoftwareCheckStarted, "最新ソフトウェア情報の取得を開始しました。");
  if (state_ == AgentState::Unregistered) return SoftwareCheck::Unregistered;
  return SoftwareUpdate(os_, log_, Registration(), [this] { return StopRequested(); }).Check(upload);
}

bool CORVSvcCtrl::WriteEvent(AgentCtrl_Upload& upload, std::int32_t actId, std::string_view message,
                             std::string_view parameters) {
  AgentEvent event(actId, os_.clock);
  event.msg = std::string(message);
  event.act_para = std::string(parameters);
  std::string body;
  upload.BuildEventMessage(event, body);
  return upload.WriteMessage(MessageKind::Event, body);
}

CORVSvcCtrl::WakeUp CORVSvcCtrl::WaitForWakeUp(std::uint32_t timeoutMs) {
  std::array<os::Event*, kWaitOrder.size()> handles{};
  for (std::size_t slot = 0; slot < kWaitOrder.size(); ++slot) handles[slot] = events_[kWaitOrder[slot]].get();
  const std::uint32_t slot = os_.sync.WaitAny(handles, timeoutMs);
  if (slot == os::kWaitTimeout) return {WakeUp::Kind::Timeout};
  if (slot >= kWaitOrder.size()) return {WakeUp::Kind::Failed};
  return {WakeUp::Kind::Event, kWaitOrder[slot]};
}

LoopExit CORVSvcCtrl::HandleWakeUp(ControllerEvent event, LoopKind loop, AgentCtrl_Upload& upload,
                                   MonitoringSession* session) {
  LoopExit exit = LoopExit::Continue;
  switch (event) {
    case kStopRequestEvent:
      return session != nullptr ? session->Wake(event) : LoopExit::EndService;
    case kSuspendedEvent:  // cleared by the resume, not here
      if (session != nullptr) return session->Wake(event);
      (void)SleepWhileSuspended();  // a stop is seen by the next wait
      return LoopExit::Continue;
    case kUserControl130Event:
      RefreshRegistration(upload);
      break;
    case kUserControl131Event:
      if (loop == LoopKind::Unregistered) exit = LoopExit::Redispatch;
      if (loop == LoopKind::MonitoringStopped) SetState(AgentState::Monitoring);
      break;
    case kUserControl132Event:
      if (loop == LoopKind::Unregistered) exit = LoopExit::Redispatch;
      if (session != nullptr) exit = session->Wake(event);
      break;
    case kUserControl133Event:
      exit = LoopExit::RereadState;
      break;
    case kUserControl134Event:
      if (loop != LoopKind::Unregistered && CheckLatestSoftware(upload) == SoftwareCheck::InstallerStarted) {
        return LoopExit::EndService;
      }
      break;
    default:  // parameter change, 128, 129, 135: reports of a running monitor
      if (session != nullptr) exit = session->Wake(event);
      break;
  }
  ClearEvent(event);
  return exit;
}

LoopExit CORVSvcCtrl::RunUnregistered(AgentCtrl_Upload& upload) {
  log_.Information(event_id::kUnregistered, "Orvaneエージェントサービスは未登録状態です。");
  for (;;) {
    const WakeUp wake = WaitForWakeUp(os::kInfinite);
    if (wake.kind != WakeUp::Kind::Event) return LoopExit::EndService;
    if (const LoopExit exit = HandleWakeUp(wake.event, LoopKind::Unregistered, upload, nullptr);
        exit != LoopExit::Continue) {
      return exit;
    }
  }
}

LoopExit CORVSvcCtrl::RunMonitoringStopped(AgentCtrl_Upload& upload) {
  if (stopReason_.empty()) {
    log_.Information(event_id::kMonitoringStopped, "Orvaneエージェントサービスは監視停止中です。");
  } else {
    log_.Error(event_id::kStoppedWithReason,
               "Orvaneエージェントサービスは監視停止中です。\n[" + stopReason_ + "]");
  }
  NotifySettingsProgram();
  for (;;) {
    const WakeUp wake = WaitForWakeUp(os::kInfinite);
    if (wake.kind != WakeUp::Kind::Event) return LoopExit::EndService;
    if (const LoopExit exit = HandleWakeUp(wake.event, LoopKind::MonitoringStopped, upload, nullptr);
        exit != LoopExit::Continue) {
      return exit;
    }
    if (state_ != AgentState::MonitoringStopped) return LoopExit::Redispatch;
  }
}

LoopExit CORVSvcCtrl::RunMonitoring(AgentCtrl_Upload& upload) {
  log_.Information(event_id::kMonitoring, "Orvaneエージェントサービスは監視中です。");
  NotifySettingsProgram();
  stopReason_.clear();
  MonitoringSession session(*this, upload);
  LoopExit exit = session.Start();
  const std::uint32_t roundMs = session.RoundWaitMs();
  while (exit == LoopExit::Continue) {
    const WakeUp wake = WaitForWakeUp(roundMs);
    switch (wake.kind) {
      case WakeUp::Kind::Timeout:
        exit = session.Round();
        break;
      case WakeUp::Kind::Failed:
        exit = LoopExit::EndService;
        break;
      case WakeUp::Kind::Event:
        exit = HandleWakeUp(wake.event, LoopKind::Monitoring, upload, &session);
        break;
    }
    exit = session.AfterWakeUp(exit);
  }
  return exit;
}

}  // namespace orv
