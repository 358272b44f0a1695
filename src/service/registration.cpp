// The controller's side of the device registration: what the registration-data answers do to
// the agent's state at the daily check and on control 130.
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "service/orv_svc_ctrl.h"
#include "service/registration_exchange.h"
#include "service/settings_notifier.h"
#include "service/test_mode.h"

namespace orv {
namespace {

constexpr const char* kStopReasonPool = "プールフォルダ管理に失敗しました。";

}  // namespace

RegistrationExchange CORVSvcCtrl::Registration() { return RegistrationExchange(os_, log_, useProductionHost_); }

bool CORVSvcCtrl::IsTestSwitch(std::string_view name) { return service::IsTestMode(name, os_.files, os_.system); }

service::RegistrationRecord CORVSvcCtrl::BuildRegistrationRecord(AgentCtrl_Upload& upload) {
  return Registration().BuildRecord(upload, static_cast<std::uint8_t>(state_), stopReason_);
}

DailyOutcome CORVSvcCtrl::DailyCheck(AgentCtrl_Upload& upload, CheckTime when) {
  if (when == CheckTime::Daily) {
    log_.Information(event_id::kDailyCheckStarted, "登録情報の取得を開始しました(日次処理)。");
  } else {
    log_.Information(event_id::kStartupCheckStarted, "登録情報の取得を開始しました。");
  }
  switch (Registration().Request(upload)) {
    case RequestOutcome::NotRegistered:
    case RequestOutcome::Unauthorized:
      SetState(AgentState::Unregistered);
      return DailyOutcome::Unregistered;
    case RequestOutcome::TransportFailure:
    case RequestOutcome::OtherStatus:
      SetState(AgentState::MonitoringWithoutRegistration);
      break;
    case RequestOutcome::Ok: {
      const RegHandle status(os_.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
      if (status.GetDword("AutoUpdate") == 1 && CheckLatestSoftware(upload) == SoftwareCheck::InstallerStarted) {
        return DailyOutcome::UpdateStarted;
      }
      if (state_ == AgentState::MonitoringWithoutRegistration) SetState(AgentState::Monitoring);
      break;
    }
  }
  if (upload.CleanPool()) return DailyOutcome::Done;
  SetState(AgentState::MonitoringStopped);
  stopReason_ = kStopReasonPool;
  return DailyOutcome::PoolFailed;
}

int CORVSvcCtrl::RefreshRegistration(AgentCtrl_Upload& upload) {
  switch (Registration().Request(upload)) {
    case RequestOutcome::NotRegistered:
    case RequestOutcome::Unauthorized:
      SetState(AgentState::Unregistered);
      break;
    case RequestOutcome::TransportFailure:
    case RequestOutcome::OtherStatus:
      if (state_ == AgentState::Monitoring) SetState(AgentState::MonitoringWithoutRegistration);
      break;
    case RequestOutcome::Ok:
      if (state_ == AgentState::MonitoringWithoutRegistration) SetState(AgentState::Monitoring);
      break;
  }
  if (IsTestSwitch("SVS_TESTMODE_1")) return 0;

  const service::RegistrationRecord record = BuildRegistrationRecord(upload);
  os::OsError error = os::kSuccess;
  if (!SettingsNotifier(os_).SendRecord(record, error)) {
    log_.SystemCallError(event_id::kSettingsRecordNotSent, "Orvane設定プログラムへ情報送信できませんでした。", error);
  }
  return 1;
}

}  // namespace orv
