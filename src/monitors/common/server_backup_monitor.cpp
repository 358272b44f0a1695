#include "monitors/common/server_backup_monitor.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "model/act_ids.h"
#include "platform/calendar.h"

namespace orv {
namespace {

constexpr std::string_view kEveryEntry = "*";
constexpr std::string_view kRelevantEntries =
    "*[System[EventID=1 or EventID=4 or EventID=5 or EventID=19 or EventID=49]]";

constexpr std::string_view kServerBackupName = "Windows Server バックアップ";

// 19 is a run that failed as it started: both a start and a failure.
bool IsStart(std::uint16_t id) { return id == 1 || id == 19; }
bool IsSuccess(std::uint16_t id) { return id == 4; }
bool IsFailure(std::uint16_t id) { return id == 5 || id == 19 || id == 49; }

std::string WithName(const char* format, std::string_view name) {
  std::string text(format);
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

}  // namespace

ServerBackupMonitor::ServerBackupMonitor(os::EventLogStore& store, os::Clock& clock, EventQueue& queue)
    : store_(store), clock_(clock), tracker_(queue, clock), reader_(store) {
  reader_.BookmarkNewest(kChannel, kEveryEntry);
}

void ServerBackupMonitor::Check(ServerBackupInfo& info, MonitorState& failure) {
  if (info.result == 0) {
    ScanHistory(info);
    // Without any known run there is nothing to compare new entries with; the bookmark stays
    // where it is, so the entries written meanwhile are still read once history exists.
    if (info.result == 0) return;
  }
  ReadNewEntries(info, failure);
}

void ServerBackupMonitor::ScanHistory(ServerBackupInfo& info) {
  EventLog reader(store_);
  auto query = reader.OpenQuery(kChannel, kRelevantEntries, os::QueryDirection::NewestFirst);
  if (!query) return;
  bool decided = false, successSeen = false, lastStartFound = false, successStartFound = false;
  while (!(decided && successSeen && lastStartFound && successStartFound) && reader.Next(query.get())) {
    const std::uint16_t id = reader.EventId();
    if (!decided && (IsSuccess(id) || IsFailure(id))) {
      info.result = IsSuccess(id) ? 1 : 2;
      decided = true;
    }
    if (IsSuccess(id)) successSeen = true;
    if (IsStart(id)) {
      if (!lastStartFound) {
        info.lastResult = LocalTimeOf(reader.TimeCreated());
        lastStartFound = true;
      }
      if (successSeen && !successStartFound) {
        info.lastBackup = LocalTimeOf(reader.TimeCreated());
        successStartFound = true;
      }
    }
  }
}

void ServerBackupMonitor::ReadNewEntries(ServerBackupInfo& info, MonitorState& failure) {
  const ConditionOpening opening{act_id::kBackupFailed, "0", std::string(kServerBackupName),
                                 WithName("バックアップに失敗しました(%s)。", kServerBackupName),
                                 "バックアップに失敗しました。"};
  (void)reader_.ReadSinceBookmark(kChannel, kEveryEntry, [&](const EventLog::FetchedEntry& fetched) {
    if (fetched.renderError != os::kSuccess) return;
    const std::uint16_t id = fetched.system.eventId;
    if (IsStart(id)) info.lastResult = LocalTimeOf(fetched.system.timeCreated);
    if (IsSuccess(id)) {
      info.lastBackup = info.lastResult;
      info.result = 1;
      const ConditionClosing closing{failure.act_para, WithName("バックアップに成功しました(%s)。", failure.act_para)};
      tracker_.Track(failure, false, opening, closing);
    }
    if (IsFailure(id)) {
      info.result = 2;
      tracker_.Track(failure, true, opening, {});
    }
  });
}

os::CalendarTime ServerBackupMonitor::LocalTimeOf(std::uint64_t fileTime) const {
  // The zone's offset now, as FileTimeToLocalFileTime applies it, in whole minutes.
  const std::int64_t offsetMs =
      ToCalendarMilliseconds(clock_.LocalNow()) - ToCalendarMilliseconds(clock_.UtcNow());
  const std::int64_t minuteMs = 60'000;
  const std::int64_t roundedMs =
      (offsetMs >= 0 ? offsetMs + minuteMs / 2 : offsetMs - minuteMs / 2) / minuteMs * minuteMs;
  const std::int64_t shift = roundedMs * kFileTimeUnitsPerMillisecond;
  std::uint64_t local = fileTime;
  if (shift >= 0) {
    local += static_cast<std::uint64_t>(shift);
  } else {
    const auto back = static_cast<std::uint64_t>(-shift);
    local = local > back ? local - back : 0;
  }
  os::CalendarTime time = FromFileTime(local);
  time.milliseconds = 0;
  return time;
}

}  // namespace orv
