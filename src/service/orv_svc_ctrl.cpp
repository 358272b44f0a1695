#include "service/orv_svc_ctrl.h"

#include "monitors/common/agent_ctrl_common.h"
#include "monitors/nas/agent_ctrl_lnas.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "model/event_queue.h"
#include "model/pipe_records.h"
#include "service/send_pipe.h"
#include "service/service_identity.h"
#include "service/service_instance.h"
#include "webapi/agent_ctrl_webapi.h"

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

constexpr std::uint32_t kEventServiceStarted = 0x4000044C;
constexpr std::uint32_t kEventUnregistered = 0x4000044D;
constexpr std::uint32_t kEventMonitoringStopped = 0x4000044E;
constexpr std::uint32_t kEventMonitoring = 0x4000044F;
constexpr std::uint32_t kEventStoppedWithReason = 0xC0000518;

constexpr std::int64_t kMsPerHour = 3'600'000;
constexpr std::int64_t kMsPerDay = 24 * kMsPerHour;

// Loop result codes as Run treats them.
constexpr int kEndService = 0;
constexpr int kRedispatch6 = 6;
constexpr int kRedispatch7 = 7;
constexpr int kRereadState = 8;

constexpr const char* kStopReasonEventWrite = "イベントトリガJSON作成処理に失敗しました。";
constexpr const char* kStopReasonStatusWrite = "ステータスJSON作成処理に失敗しました。";

// Wait-list positions: stop request, parameter change, suspended, controls 128 to 135.
enum Handle : std::uint32_t {
  kHandleStop = 0,
  kHandleParam = 1,
  kHandleSuspended = 2,
  kHandle128 = 3,
  kHandle129,
  kHandle130,
  kHandle131,
  kHandle132,
  kHandle133,
  kHandle134,
  kHandle135,
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
  SetStatus(kServiceRunning, 0, 0, kRunningControls);
  log_.Information(kEventServiceStarted, "Orvaneエージェントサービスが開始しました。");
  // A stop during start-up ends it between its steps; the loops would only see it later.
  WaitForNetwork();
  if (StopRequested()) {
    SetEvent(kStoppedEvent);
    return;
  }
  useProductionHost_ = AgentCtrl_WebAPI(os_).SelectHost() == 1 ? 0 : 1;

  AgentCtrl_Upload upload(os_);
  if (DailyCheck(upload, false) == kDailyUpdateStarted || StopRequested()) {
    SetEvent(kStoppedEvent);
    return;
  }
  ReadState(upload);

  std::array<os::Event*, 11> handles{};
  handles[kHandleStop] = events_[kStopRequestEvent].get();
  handles[kHandleParam] = events_[kParamChangeEvent].get();
  handles[kHandleSuspended] = events_[kSuspendedEvent].get();
  for (std::size_t i = 0; i < 8; ++i) handles[kHandle128 + i] = events_[kUserControl128Event + i].get();

  for (;;) {
    int result = kEndService;
    switch (state_) {
      case AgentState::Unregistered:
        result = RunUnregistered(handles, upload);
        break;
      case AgentState::Monitoring:
      case AgentState::MonitoringWithoutRegistration:
        result = RunMonitoring(handles, upload);
        break;
      case AgentState::MonitoringStopped:
        result = RunMonitoringStopped(handles, upload);
        break;
      case AgentState::Undecided:
        break;
    }
    if (result == kRereadState) {
      ReadState(upload);
    } else if (result != kRedispatch6 && result != kRedispatch7) {
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

int CORVSvcCtrl::LaunchUploader(AgentCtrl_Upload& upload, const AgentCtrl_COMMON& /*common*/) {
  // The network identity monitor keeps no MAC yet; the first port's is the device's identity.
  return upload.LaunchUploader(GetMacAddressText()) ? 1 : 0;
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

bool CORVSvcCtrl::SendToSettingsProgram(std::span<const std::uint8_t> record, os::OsError& error,
                                        std::string_view pipeSuffix) {
  std::string pipeName(service::kSettingsPipeName);
  pipeName += pipeSuffix;
  service::SendPipe pipe(os_.pipes, pipeName);
  const bool sent = pipe.Send(record);
  error = pipe.LastError();
  return sent;
}

void CORVSvcCtrl::NotifySettingsProgram() {
  service::PipeNotice notice;
  notice.result = 1;
  os::OsError error = os::kSuccess;
  // The settings program may not be running; the notice is then simply not seen.
  (void)SendToSettingsProgram(service::SerializePipeNotice(notice, os_.system), error);
}

bool CORVSvcCtrl::WriteEvent(AgentCtrl_Upload& upload, std::int32_t actId, std::string_view message,
                             std::string_view parameters) {
  AgentEvent event(actId, os_.clock);
  event.msg = std::string(message);
  event.act_para = std::string(parameters);
  std::string body;
  upload.BuildEventMessage(event, body);
  return upload.WriteMessage(static_cast<int>(MessageKind::Event), body);
}

std::optional<int> CORVSvcCtrl::HandleIdleWakeup(std::uint32_t index,
                                                 std::span<os::Event* const> handles,
                                                 AgentCtrl_Upload& upload) {
  if (index >= handles.size()) return kEndService;  // a failed wait would fail again
  switch (index) {
    case kHandleStop:
      return kEndService;
    case kHandleSuspended:
      (void)SleepWhileSuspended();  // a stop is seen by the next wait
      break;
    case kHandle130:
      RefreshRegistration(upload);
      handles[index]->Reset();
      break;
    default:
      break;
  }
  return std::nullopt;
}

int CORVSvcCtrl::RunUnregistered(std::span<os::Event* const> handles, AgentCtrl_Upload& upload) {
  log_.Information(kEventUnregistered, "Orvaneエージェントサービスは未登録状態です。");
  for (;;) {
    const std::uint32_t index = os_.sync.WaitAny(handles, os::kInfinite);
    if (const auto ended = HandleIdleWakeup(index, handles, upload)) return *ended;
    switch (index) {
      case kHandleStop:
      case kHandleSuspended:
      case kHandle130:
        break;  // handled above
      case kHandle131:
      case kHandle132:
      case kHandle133:
        handles[index]->Reset();
        return static_cast<int>(index);
      default:
        handles[index]->Reset();
        break;
    }
  }
}

int CORVSvcCtrl::RunMonitoringStopped(std::span<os::Event* const> handles,
                                      AgentCtrl_Upload& upload) {
  if (stopReason_.empty()) {
    log_.Information(kEventMonitoringStopped, "Orvaneエージェントサービスは監視停止中です。");
  } else {
    log_.Error(kEventStoppedWithReason,
               "Orvaneエージェントサービスは監視停止中です。\n[" + stopReason_ + "]");
  }
  NotifySettingsProgram();
  for (;;) {
    const std::uint32_t index = os_.sync.WaitAny(handles, os::kInfinite);
    if (const auto ended = HandleIdleWakeup(index, handles, upload)) return *ended;
    switch (index) {
      case kHandleStop:
      case kHandleSuspended:
      case kHandle130:
        break;  // handled above
      case kHandle131:
        SetState(AgentState::Monitoring);
        handles[index]->Reset();
        break;
      case kHandle133:
        handles[index]->Reset();
        return kRereadState;
      case kHandle134:
        if (CheckLatestSoftware(upload) == kDailyUpdateStarted) return kEndService;
        handles[index]->Reset();
        break;
      default:
        handles[index]->Reset();
        break;
    }
    if (state_ != AgentState::MonitoringStopped) return kRedispatch7;
  }
}

int CORVSvcCtrl::RunMonitoring(std::span<os::Event* const> handles, AgentCtrl_Upload& upload) {
  log_.Information(kEventMonitoring, "Orvaneエージェントサービスは監視中です。");
  NotifySettingsProgram();
  stopReason_.clear();

  std::int64_t nextStatus = NextStatusTime(Now(), upload.StatusSecond(), upload.OutputInterval());
  std::int64_t nextDaily = NextDailyTime(Now(), upload.DailySecond());

  auto common = std::make_unique<AgentCtrl_COMMON>(os_);
  auto nas = std::make_unique<AgentCtrl_LNAS>(os_, upload.BrandFlag(), upload.ModelFlags());
  common->RunStartupChecks();
  nas->Initialize();

  // Before the watcher threads exist nothing else posts; the first drain needs no other care.
  bool roundFailed = false;
  bool wrote = false;
  CommonEventQueue().Drain([&](const AgentEvent& event) {
    std::string body;
    upload.BuildEventMessage(event, body);
    if (upload.WriteMessage(static_cast<int>(MessageKind::Event), body)) {
      wrote = true;
    } else {
      roundFailed = true;
    }
  });

  const RegHandle status(os_.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
  const std::uint32_t initEvent = status.GetDword("InitEvent");
  if (initEvent == 0) {
    if (WriteEvent(upload, 5060, "エージェントによる初期化が実行されました。")) {
      (void)status.SetDword("InitEvent", 1);
      wrote = true;
    } else {
      roundFailed = true;
    }
  } else if (initEvent == RegHandle::kMissingDword) {
    (void)status.SetDword("InitEvent", 0);  // the event follows at the next start
  }

  int result = kEndService;
  bool ended = false;
  if (roundFailed) {
    SetState(AgentState::MonitoringStopped);
    stopReason_ = kStopReasonEventWrite;
    result = kRedispatch7;
    ended = true;
  } else {
    common->StartWatchers();
    if (wrote) ReportNow(5060, *common, *nas, upload);
  }

  const std::uint32_t roundMs = upload.RoundWaitMs();
  while (!ended) {
    const std::uint32_t index = os_.sync.WaitAny(handles, roundMs);
    if (index == os::kWaitTimeout) {
      // One monitoring round.
      common->Check(true, upload.EventDefinitions());
      nas->Check(true);
      nas->CheckEncryptedVolumes(1);
      const bool pending = EventsPending();
      bool statusDue = false;
      bool uploadDue = false;
      if (Now() >= nextStatus) {
        if (state_ == AgentState::MonitoringWithoutRegistration) {
          switch (RequestRegistrationData(upload)) {
            case RequestOutcome::NotRegistered:
            case RequestOutcome::Unauthorized:
              SetState(AgentState::Unregistered);
              break;
            case RequestOutcome::Ok:
              SetState(AgentState::Monitoring);
              break;
            case RequestOutcome::OtherStatus:
              SetState(AgentState::MonitoringWithoutRegistration);
              break;
            case RequestOutcome::TransportFailure:
              break;
          }
        }
        statusDue = true;
        uploadDue = true;
        common->CheckNetworkIdentity(1);
        common->CheckDriverVersions(1);
        nas->CheckCompanionSettings(1);
      } else if (pending) {
        common->CheckNetworkIdentity(0);
        common->CheckDriverVersions(0);
        nas->CheckCompanionSettings(0);
      }
      bool writeFailed = false;
      if (pending) {
        int written = 0;
        writeFailed = !upload.WriteQueuedEvents(written);
        std::string body;
        upload.BuildStatusMessage(2, 1, common->Data(), nas->Data(), body);
        writeFailed = !upload.WriteMessage(static_cast<int>(MessageKind::Status), body) || writeFailed;
        uploadDue = true;
        if (writeFailed) {
          SetState(AgentState::MonitoringStopped);
          stopReason_ = kStopReasonEventWrite;
        }
      }
      if (!writeFailed && statusDue) {
        std::string body;
        upload.BuildStatusMessage(1, 1, common->Data(), nas->Data(), body);
        nextStatus += std::int64_t{upload.OutputInterval()} * 1000;
        common->ClearSamples();
        nas->ClearSamples();
        if (!upload.WriteMessage(static_cast<int>(MessageKind::Status), body)) {
          SetState(AgentState::MonitoringStopped);
          stopReason_ = kStopReasonStatusWrite;
          writeFailed = true;
        }
      }
      if (!writeFailed && uploadDue && state_ != AgentState::Unregistered &&
          state_ != AgentState::MonitoringWithoutRegistration) {
        LaunchUploader(upload, *common);
      }
    } else {
      switch (index) {
        case kHandleStop:
          if (preShutdown_ != 0) ReportNow(1060, *common, *nas, upload);
          result = kEndService;
          ended = true;
          break;
        case kHandleSuspended:
          if (SleepWhileSuspended()) ReportNow(1030, *common, *nas, upload);
          break;
        case kHandle128:
          ReportNow(9010, *common, *nas, upload);
          handles[index]->Reset();
          break;
        case kHandle129:
          ReportNow(10000, *common, *nas, upload);
          handles[index]->Reset();
          break;
        case kHandle130:
          RefreshRegistration(upload);
          handles[index]->Reset();
          break;
        case kHandle132:
          SetState(AgentState::MonitoringStopped);
          handles[index]->Reset();
          break;
        case kHandle133:
          handles[index]->Reset();
          result = kRereadState;
          ended = true;
          break;
        case kHandle134:
          if (CheckLatestSoftware(upload) == kDailyUpdateStarted) {
            result = kEndService;
            ended = true;
          }
          handles[index]->Reset();
          break;
        case kHandle135:
          if (ReportNow(1040, *common, *nas, upload) != 0) {
            os::OsError error = os::kSuccess;
            if (auto answer = os_.sync.OpenNamedEvent("SVCPOWMGR_NotificationReturn", error)) answer->Set();
          }
          handles[index]->Reset();
          break;
        default:
          if (index >= handles.size()) {  // a failed wait would fail again
            result = kEndService;
            ended = true;
          } else {
            handles[index]->Reset();
          }
          break;
      }
    }

    // After every wake-up, also one that is ending the loop.
    if (Now() >= nextDaily) {
      if (DailyCheck(upload, true) == kDailyUpdateStarted) {
        result = kEndService;
        ended = true;
      } else {
        ReadState(upload);
        nextDaily += kMsPerDay;
      }
    }
    // A state that is no longer a monitoring one re-dispatches, even over an ending wake-up.
    if (state_ != AgentState::Monitoring && state_ != AgentState::MonitoringWithoutRegistration) {
      result = kRedispatch7;
      ended = true;
    }
  }

  common->StopWatchers();
  // Bounded: a hung uploader is left running; the worker reports stop-pending meanwhile.
  (void)upload.StopUploader();
  return result;
}

int CORVSvcCtrl::ReportNow(std::int32_t actId, AgentCtrl_COMMON& common, AgentCtrl_LNAS& nas,
                           AgentCtrl_Upload& upload) {
  int kind = 2;
  int power = 1;
  bool refresh = true;
  bool writes = true;
  const char* message = "";
  const char* parameters = "";
  switch (actId) {
    case 5060: writes = false; break;
    case 1030: message = "システムがレジュームしました。"; break;
    case 1040: message = "システムがスリープ/休止へ移行しました。"; power = 3; refresh = false; break;
    case 1060: message = "システムをシャットダウンしました。"; power = 2; refresh = false; break;
    case 9010: message = "テスト通知"; parameters = "テストメッセージ"; break;
    case 10000: writes = false; kind = 3; break;
    default: return 0;
  }
  if (writes && !WriteEvent(upload, actId, message, parameters)) return 0;
  if (refresh) {
    common.Check(false, upload.EventDefinitions());
    nas.Check(false);
    nas.CheckEncryptedVolumes(0);
    common.CheckNetworkIdentity(0);
    common.CheckDriverVersions(0);
    nas.CheckCompanionSettings(0);
  }
  int written = 0;
  bool ok = upload.WriteQueuedEvents(written);
  std::string body;
  upload.BuildStatusMessage(kind, power, common.Data(), nas.Data(), body);
  ok = upload.WriteMessage(static_cast<int>(MessageKind::Status), body) && ok;
  if (!ok) return 0;
  if (state_ == AgentState::MonitoringWithoutRegistration) return 1;
  return LaunchUploader(upload, common);
}

}  // namespace orv
