#include "service/monitoring_session.h"

#include <string>

#include "model/act_ids.h"
#include "model/event_queue.h"
#include "monitors/common/agent_ctrl_common.h"
#include "monitors/nas/agent_ctrl_lnas.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"

namespace orv {
namespace {

constexpr std::int64_t kMsPerDay = 24 * 3'600'000LL;

constexpr const char* kStopReasonEventWrite = "イベントトリガJSON作成処理に失敗しました。";
constexpr const char* kStopReasonStatusWrite = "ステータスJSON作成処理に失敗しました。";

// The act ids the controller writes itself.

}  // namespace

MonitoringSession::MonitoringSession(CORVSvcCtrl& controller, AgentCtrl_Upload& upload)
    : controller_(controller), upload_(upload) {}

MonitoringSession::~MonitoringSession() {
  if (common_) common_->StopWatchers();
  // Bounded: a hung uploader is left running; the worker reports stop-pending meanwhile.
  (void)upload_.StopUploader();
}

std::uint32_t MonitoringSession::RoundWaitMs() const { return upload_.RoundWaitMs(); }

LoopExit MonitoringSession::Start() {
  const std::int64_t now = controller_.Now();
  nextStatus_ = CORVSvcCtrl::NextStatusTime(now, upload_.StatusSecond(), upload_.OutputInterval());
  nextDaily_ = CORVSvcCtrl::NextDailyTime(now, upload_.DailySecond());
  const os::OsPorts& os = controller_.os_;
  const auto held = os.registry.HoldKeys();
  common_ = std::make_unique<AgentCtrl_COMMON>(os);
  nas_ = std::make_unique<AgentCtrl_LNAS>(os, upload_.BrandFlag(), upload_.ModelFlags());
  common_->CheckSystemState();
  nas_->Initialize();

  // Before the watcher threads exist nothing else posts; the first drain needs no other care.
  bool failed = false;
  bool wrote = false;
  CommonEventQueue().Drain([&](const AgentEvent& event) {
    if (upload_.IsEventStopped(event.act_id)) return;
    std::string body;
    upload_.BuildEventMessage(event, body);
    if (upload_.WriteMessage(MessageKind::Event, body)) {
      wrote = true;
    } else {
      failed = true;
    }
  });

  const RegHandle status(os.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
  const std::uint32_t initEvent = status.GetDword("InitEvent").value_or(RegHandle::kMissingDword);
  if (initEvent == 0) {
    if (controller_.WriteEvent(upload_, act_id::kInitialised, "エージェントによる初期化が実行されました。")) {
      (void)status.SetDword("InitEvent", 1);
      wrote = true;
    } else {
      failed = true;
    }
  } else if (initEvent == RegHandle::kMissingDword) {
    (void)status.SetDword("InitEvent", 0);  // the event follows at the next start
  }

  if (failed) {
    controller_.SetState(AgentState::MonitoringStopped);
    controller_.stopReason_ = kStopReasonEventWrite;
    return LoopExit::Redispatch;
  }
  common_->StartWatchers();
  if (wrote) (void)Report(act_id::kInitialised);
  return LoopExit::Continue;
}

LoopExit MonitoringSession::Round() {
  // Each key the round reads is opened once for the whole round, not once per value.
  const auto held = controller_.os_.registry.HoldKeys();
  common_->Check(PassKind::Round, upload_.EventDefinitions());
  nas_->Check(PassKind::Round);
  nas_->CheckEncryptedVolumes();
  const bool pending = EventsPending();
  const bool statusDue = controller_.Now() >= nextStatus_;
  if (statusDue && controller_.state_ == AgentState::MonitoringWithoutRegistration) {
    switch (controller_.Registration().Request(upload_)) {
      case RequestOutcome::NotRegistered:
      case RequestOutcome::Unauthorized:
        controller_.SetState(AgentState::Unregistered);
        break;
      case RequestOutcome::Ok:
        controller_.SetState(AgentState::Monitoring);
        break;
      case RequestOutcome::OtherStatus:
        controller_.SetState(AgentState::MonitoringWithoutRegistration);
        break;
      case RequestOutcome::TransportFailure:
        break;
    }
  }
  if (statusDue || pending) {
    common_->CheckNetwork();
    common_->CheckDrivers();
    nas_->CheckCompanionSettings();
  }

  if (pending && !WriteEventsAndStatus(StatusKind::AfterEvents, PowerState::Running)) {
    controller_.SetState(AgentState::MonitoringStopped);
    controller_.stopReason_ = kStopReasonEventWrite;
    return LoopExit::Continue;  // the state check after the wake-up moves to the stopped loop
  }
  if (statusDue) {
    std::string body;
    upload_.BuildStatusMessage(StatusKind::Periodic, PowerState::Running, common_->Data(), nas_->Data(), body);
    nextStatus_ += std::int64_t{upload_.OutputInterval()} * 1000;
    common_->ClearSamples();
    nas_->ClearSamples();
    if (!upload_.WriteMessage(MessageKind::Status, body)) {
      controller_.SetState(AgentState::MonitoringStopped);
      controller_.stopReason_ = kStopReasonStatusWrite;
      return LoopExit::Continue;
    }
  }
  const AgentState state = controller_.state_;
  if ((statusDue || pending) && state != AgentState::Unregistered &&
      state != AgentState::MonitoringWithoutRegistration) {
    upload_.LaunchUploader(common_->MacAddressText());
  }
  return LoopExit::Continue;
}

LoopExit MonitoringSession::Wake(CORVSvcCtrl::ControllerEvent event) {
  switch (event) {
    case CORVSvcCtrl::kStopRequestEvent:
      if (controller_.PreShutdownRequested()) (void)Report(act_id::kShutdown);
      return LoopExit::EndService;
    case CORVSvcCtrl::kSuspendedEvent:
      if (controller_.SleepWhileSuspended()) (void)Report(act_id::kResumed);
      return LoopExit::Continue;
    case CORVSvcCtrl::kUserControl128Event:
      (void)Report(act_id::kTestNotice);
      return LoopExit::Continue;
    case CORVSvcCtrl::kUserControl129Event:
      (void)Report(act_id::kTestStatus);
      return LoopExit::Continue;
    case CORVSvcCtrl::kUserControl132Event:
      controller_.SetState(AgentState::MonitoringStopped);
      return LoopExit::Continue;
    case CORVSvcCtrl::kUserControl135Event:
      if (Report(act_id::kSleeping)) {
        if (auto answer = controller_.os_.sync.OpenNamedEvent("SVCPOWMGR_NotificationReturn")) {
          answer->Set();
        }
      }
      return LoopExit::Continue;
    default:
      return LoopExit::Continue;
  }
}

LoopExit MonitoringSession::AfterWakeUp(LoopExit exit) {
  if (controller_.Now() >= nextDaily_) {
    if (controller_.DailyCheck(upload_, CheckTime::Daily) == DailyOutcome::UpdateStarted) {
      exit = LoopExit::EndService;
    } else {
      controller_.ReadState(upload_);
      nextDaily_ += kMsPerDay;
    }
  }
  // A state that is no longer a monitoring one re-dispatches, even over an ending wake-up.
  const AgentState state = controller_.state_;
  if (state != AgentState::Monitoring && state != AgentState::MonitoringWithoutRegistration) {
    exit = LoopExit::Redispatch;
  }
  return exit;
}

bool MonitoringSession::WriteEventsAndStatus(StatusKind kind, PowerState power) {
  int written = 0;
  bool ok = upload_.WriteQueuedEvents(written);
  std::string body;
  upload_.BuildStatusMessage(kind, power, common_->Data(), nas_->Data(), body);
  return upload_.WriteMessage(MessageKind::Status, body) && ok;
}

bool MonitoringSession::Report(std::int32_t actId) {
  StatusKind kind = StatusKind::AfterEvents;
  PowerState power = PowerState::Running;
  bool refresh = true;
  bool writes = true;
  const char* message = "";
  const char* parameters = "";
  switch (actId) {
    case act_id::kInitialised: writes = false; break;
    case act_id::kResumed: message = "システムがレジュームしました。"; break;
    case act_id::kSleeping: message = "システムがスリープ/休止へ移行しました。"; power = PowerState::Sleeping; refresh = false; break;
    case act_id::kShutdown: message = "システムをシャットダウンしました。"; power = PowerState::ShuttingDown; refresh = false; break;
    case act_id::kTestNotice: message = "テスト通知"; parameters = "テストメッセージ"; break;
    case act_id::kTestStatus: writes = false; kind = StatusKind::Test; break;
    default: return false;
  }
  if (writes && !controller_.WriteEvent(upload_, actId, message, parameters)) return false;
  if (refresh) {
    const auto held = controller_.os_.registry.HoldKeys();
    common_->Check(PassKind::Immediate, upload_.EventDefinitions());
    nas_->Check(PassKind::Immediate);
    nas_->CheckEncryptedVolumes();
    common_->CheckNetwork();
    common_->CheckDrivers();
    nas_->CheckCompanionSettings();
  }
  if (!WriteEventsAndStatus(kind, power)) return false;
  if (controller_.state_ == AgentState::MonitoringWithoutRegistration) return true;
  return upload_.LaunchUploader(common_->MacAddressText());
}

}  // namespace orv
