#include "monitors/common/windows_update_monitor.h"

#include <cstdio>

#include "model/act_ids.h"
#include "monitors/common/windows_update_policy.h"
#include "monitors/common/windows_update_watcher.h"
#include "platform/agent_registry.h"

namespace orv {
namespace {

constexpr std::string_view kLastInstallationValue = "UpdateLastInst";
constexpr std::string_view kNoAutoUpdateValue = "NoAutoUpdate";
constexpr std::string_view kAuOptionsValue = "AUOptions";

std::string InstallationText(const std::optional<os::CalendarTime>& time) {
  if (!time) return {};
  char text[48];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", unsigned{time->year}, unsigned{time->month},
                unsigned{time->day}, unsigned{time->hour}, unsigned{time->minute}, unsigned{time->second});
  return text;
}

}  // namespace

WindowsUpdateMonitor::WindowsUpdateMonitor(const os::OsPorts& os, EventQueue& queue)
    : os_(os), queue_(queue), common_(os.registry, os::RegistryRoot::LocalMachine, std::string(kCommonKey)) {}

void WindowsUpdateMonitor::Check(bool report, std::string& message) {
  CheckInstallation(report);
  CheckPolicy(report);
  message = PendingUpdatesText();
}

void WindowsUpdateMonitor::CheckInstallation(bool report) {
  const os::AutoUpdateTimes times = os_.windowsUpdate.LastSuccessTimes();
  // Unknown is not "never": compared with the stored time it would report an installation
  // now, and another one when the time can be read again.
  if (os::UpdateFailed(times.result)) return;
  const std::string current = InstallationText(times.lastInstallation);
  std::string stored;
  if (!common_.GetString(kLastInstallationValue, stored)) {
    (void)common_.SetString(kLastInstallationValue, current);
    return;
  }
  if (!report || stored == current) return;
  AgentEvent event(act_id::kUpdatesInstalled, os_.clock);
  event.act_para = current;
  event.msg = "Windows Update が実施されました。";
  queue_.Post(event);
  (void)common_.SetString(kLastInstallationValue, current);
}

void WindowsUpdateMonitor::CheckPolicy(bool report) {
  const std::optional<AuPolicy> policy = ReadAuPolicy(os_.registry);
  const SeenAuPolicy seen{common_.GetDwordOr(kNoAutoUpdateValue, RegHandle::kMissingDword),
                          common_.GetDwordOr(kAuOptionsValue, RegHandle::kMissingDword)};
  const AuPolicyUpdate update = CompareAuPolicy(seen, policy);
  // What is stored already is not written again.
  if (update.noAutoUpdate && *update.noAutoUpdate != seen.noAutoUpdate) {
    (void)common_.SetDword(kNoAutoUpdateValue, *update.noAutoUpdate);
  }
  if (update.auOptions && *update.auOptions != seen.auOptions) (void)common_.SetDword(kAuOptionsValue, *update.auOptions);
  if (!update.changed || !report) return;

  const std::uint32_t options = policy ? policy->auOptions : RegHandle::kMissingDword;
  const unsigned shown = options == RegHandle::kMissingDword ? 0 : options;
  char para[16];
  std::snprintf(para, sizeof para, "%u", shown);
  AgentEvent event(act_id::kUpdatePolicyChanged, os_.clock);
  event.act_para = para;
  event.msg = std::string("Windows Updateの 設定が変更されました(") + para + ")。";
  queue_.Post(event);
}

std::string WindowsUpdateMonitor::PendingUpdatesText() const {
  const std::optional<std::uint32_t> count = common_.GetDword(kWinUpdateNumValue);
  const std::optional<std::uint32_t> restart = common_.GetDword(kReqRebootValue);
  // Removed while the watcher searches, and missing until its first search ended.
  if (!count || !restart) return "取得中";
  if (*count == 0) return "利用可能な更新はありません。";
  const char* restartText = "再起動が必要な更新はありません。";
  if (*restart == static_cast<std::uint32_t>(os::RestartNeed::Always)) restartText = "再起動が必要な更新があります。";
  if (*restart == static_cast<std::uint32_t>(os::RestartNeed::Possible)) restartText = "再起動が必要な場合があります。";
  char text[160];
  std::snprintf(text, sizeof text, "%u件の更新が利用可能です。%s", unsigned{*count}, restartText);
  return text;
}

}  // namespace orv
