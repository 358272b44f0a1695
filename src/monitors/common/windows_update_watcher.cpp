#include "monitors/common/windows_update_watcher.h"

#include <algorithm>
#include <string>

#include "platform/agent_event_ids.h"
#include "platform/agent_event_log.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr std::size_t kSystemTimeBytes = 16;
constexpr std::int64_t kSecondsPerDay = 86'400;

// Due once a whole day has passed since the last search, and whenever that time is unknown.
// A time after now means the clock was set back since: waiting for that date could stop the
// search for years, so it is due as well.
bool SearchDue(const std::optional<os::CalendarTime>& lastSearch, const os::CalendarTime& now) {
  if (!lastSearch) return true;
  const std::int64_t elapsedSeconds = ToCalendarMilliseconds(now) / 1000 - ToCalendarMilliseconds(*lastSearch) / 1000;
  return elapsedSeconds < 0 || elapsedSeconds / kSecondsPerDay >= 1;
}

// What installing all of them asks for: a restart when any update always needs one, else
// perhaps one when any may ask, else none.
os::RestartNeed RestartNeedOfAll(const std::vector<os::RestartNeed>& restarts) {
  const auto any = [&restarts](os::RestartNeed need) {
    return std::find(restarts.begin(), restarts.end(), need) != restarts.end();
  };
  if (any(os::RestartNeed::Always)) return os::RestartNeed::Always;
  if (any(os::RestartNeed::Possible)) return os::RestartNeed::Possible;
  return os::RestartNeed::Never;
}

std::optional<os::CalendarTime> ReadLastSearch(const RegHandle& common) {
  std::vector<std::uint8_t> stored;
  if (!common.GetBinary(kWinUpdateLastCheckValue, stored)) return std::nullopt;
  return DecodeSystemTime(stored);
}

}  // namespace

void RunWindowsUpdateWatcher(os::OsPorts os, os::Event& stop) {
  const RegHandle common(os.registry, os::RegistryRoot::LocalMachine, std::string(kCommonKey));
  const AgentEventLog log(os.eventReporter, os.system);
  os::Event* const stopEvents[] = {&stop};
  while (os.sync.WaitAny(stopEvents, kUpdateWatchIntervalMs) == os::kWaitTimeout) {
    if (!SearchDue(ReadLastSearch(common), os.clock.LocalNow())) continue;

    (void)common.DeleteValue(kWinUpdateNumValue);
    (void)common.DeleteValue(kReqRebootValue);
    os::PendingUpdates found;
    const os::UpdateResult result = os.windowsUpdate.Search(stop, found);
    // Whatever a stopped search returned, it is not the day's answer: the next start searches.
    if (os.sync.WaitAny(stopEvents, 0) != os::kWaitTimeout) return;
    if (os::UpdateFailed(result)) {
      log.Error(event_id::kWindowsUpdateInfoFailed, "WindowsUpdate情報の取得に失敗しました。");
    } else {
      (void)common.SetDword(kWinUpdateNumValue, found.count);
      (void)common.SetDword(kReqRebootValue, static_cast<std::uint32_t>(RestartNeedOfAll(found.restarts)));
    }
    os::CalendarTime now = os.clock.LocalNow();
    now.milliseconds = 0;
    (void)common.SetBinary(kWinUpdateLastCheckValue, EncodeSystemTime(now));
  }
}

std::vector<std::uint8_t> EncodeSystemTime(const os::CalendarTime& time) {
  const std::uint16_t fields[] = {time.year, time.month,  time.dayOfWeek, time.day,
                                  time.hour, time.minute, time.second,    time.milliseconds};
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kSystemTimeBytes);
  for (const std::uint16_t field : fields) {
    bytes.push_back(static_cast<std::uint8_t>(field));
    bytes.push_back(static_cast<std::uint8_t>(field >> 8));
  }
  return bytes;
}

std::optional<os::CalendarTime> DecodeSystemTime(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kSystemTimeBytes) return std::nullopt;
  const auto field = [&bytes](std::size_t index) {
    return static_cast<std::uint16_t>(bytes[2 * index] | bytes[2 * index + 1] << 8);
  };
  return os::CalendarTime{field(0), field(1), field(2), field(3), field(4), field(5), field(6), field(7)};
}

}  // namespace orv
