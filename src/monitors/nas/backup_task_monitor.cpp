#include "monitors/nas/backup_task_monitor.h"

#include <algorithm>
#include <cstdio>

#include "model/act_ids.h"
#include "monitors/common/state_tables.h"
#include "platform/calendar.h"
#include "platform/decimal_text.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr std::string_view kRunRecords = "*[System[EventID=1010 or EventID=1011 or EventID=1012 or EventID=3010]]";
constexpr std::string_view kNameOpen = "「";
constexpr std::string_view kNameClose = "」";

enum class RunResult : std::uint32_t { None = 0, Completed = 1, Failed = 2, Stopped = 3 };

bool IsSet(const os::CalendarTime& time) { return time.year != 0; }

std::string TimeText(const os::CalendarTime& time) {
  if (!IsSet(time)) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", unsigned{time.year}, unsigned{time.month},
                unsigned{time.day}, unsigned{time.hour}, unsigned{time.minute}, unsigned{time.second});
  return text;
}

os::CalendarTime ParseTime(const std::string& text) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  os::CalendarTime time;
  if (std::sscanf(text.c_str(), "%u/%u/%u %u:%u:%u", &year, &month, &day, &hour, &minute, &second) != 6 ||
      year > 9999 || month > 12 || day > 31 || hour > 23 || minute > 59 || second > 59) {
    return time;  // unset: a damaged row loses a time, never a task
  }
  time = {static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month), 0, static_cast<std::uint16_t>(day),
          static_cast<std::uint16_t>(hour), static_cast<std::uint16_t>(minute), static_cast<std::uint16_t>(second), 0};
  return time;
}

// Names are compared as a row keeps them, so a name holding "]" is still the same task after a
// restart has read it back from its row.
bool SameName(std::string_view a, std::string_view b) { return RowText(a) == RowText(b); }

// The task number after the key's first ":", plus 1000, as the trigger carries it.
std::string TriggerOf(const BackupTask& task) {
  const std::size_t colon = task.key.find(':');
  const std::int64_t number = colon == std::string::npos ? 0 : ParseDecimal(std::string_view(task.key).substr(colon + 1));
  return std::to_string(number + 1000);
}

os::CalendarTime LocalTimeOf(std::uint64_t utcFileTime, os::Clock& clock) {
  const std::int64_t offset = ToCalendarMilliseconds(clock.LocalNow()) - ToCalendarMilliseconds(clock.UtcNow());
  // Whole seconds, as the times are stored and shown; rounded to the minute, the offset drops
  // the few milliseconds between the two clock readings.
  const std::int64_t zone = (offset + (offset >= 0 ? 30'000 : -30'000)) / 60'000 * 60'000;
  os::CalendarTime local = FromCalendarMilliseconds(ToCalendarMilliseconds(FromFileTime(utcFileTime)) + zone);
  local.milliseconds = 0;
  return local;
}

}  // namespace

std::string TaskNameIn(std::string_view message) {
  const std::size_t open = message.find(kNameOpen);
  const std::size_t start = open == std::string_view::npos ? 0 : open + kNameOpen.size();
  // The first closing mark of the whole message ends the name; one before the opening mark
  // gives no name rather than a span that runs backwards.
  const std::size_t close = message.find(kNameClose);
  if (close == std::string_view::npos || close < start) return {};
  return std::string(message.substr(start, close - start));
}

std::vector<BackupTask> LoadBackupTasks(os::Registry& registry, StoredTables* stored) {
  std::vector<FiveTexts> rows;
  (void)LoadList(registry, kVaultBackupTaskInfo, rows, stored);
  std::vector<BackupTask> tasks;
  for (const FiveTexts& row : rows) {
    BackupTask task;
    task.name = row[0];
    task.key = row[1];
    const std::int32_t result = ParseDecimal(row[2]);
    task.result = result >= 0 && result <= 3 ? static_cast<std::uint32_t>(result) : 0;
    task.lastSuccess = ParseTime(row[3]);
    task.lastResult = ParseTime(row[4]);
    tasks.push_back(std::move(task));
  }
  return tasks;
}

void SaveBackupTasks(os::Registry& registry, const std::vector<BackupTask>& tasks, StoredTables* stored) {
  std::vector<FiveTexts> rows;
  for (const BackupTask& task : tasks) {
    rows.push_back({task.name, task.key, std::to_string(task.result), TimeText(task.lastSuccess), TimeText(task.lastResult)});
  }
  (void)SaveList(registry, kVaultBackupTaskInfo, rows, stored);
}

BackupTaskMonitor::BackupTaskMonitor(const os::OsPorts& os, EventQueue& queue)
    : os_(os), tracker_(queue, os.clock), log_(os.eventLogStore) {
  log_.BookmarkNewest(kBackupLogChannel, kRunRecords);
}

void BackupTaskMonitor::Check(std::vector<BackupTask>& tasks, std::vector<MonitorState>& failures) {
  FollowTaskList(tasks, failures);
  ReadLog(tasks, failures);
  SaveBackupTasks(os_.registry, tasks, &stored_);
}

void BackupTaskMonitor::FollowTaskList(std::vector<BackupTask>& tasks, std::vector<MonitorState>& failures) const {
  const RegHandle product(os_.registry, os::RegistryRoot::LocalMachine, std::string(kBackupProductKey));
  std::vector<std::string> subKeys;
  (void)product.EnumSubKeys(subKeys);
  const auto nameOf = [&](const std::string& subKey) {
    std::string name;
    (void)RegHandle::GetString(os_.registry, os::RegistryRoot::LocalMachine,
                               std::string(kBackupProductKey) + "\\" + subKey, "Name", name);
    return name;
  };
  if (!tasks.empty()) {
    for (auto task = tasks.begin(); task != tasks.end();) {
      if (std::find(subKeys.begin(), subKeys.end(), task->key) == subKeys.end()) {
        Close(task->name, failures, "バックアップタスクが削除されました(%s)");
        task = tasks.erase(task);
        continue;
      }
      const std::string name = nameOf(task->key);
      if (!SameName(name, task->name)) {
        Close(task->name, failures, "バックアップタスクが削除されました(%s)");
        task->name = name;
      }
      ++task;
    }
  }
  for (const std::string& subKey : subKeys) {
    if (std::none_of(tasks.begin(), tasks.end(), [&](const BackupTask& t) { return t.key == subKey; })) {
      BackupTask task;
      task.name = nameOf(subKey);
      task.key = subKey;
      tasks.push_back(std::move(task));
    }
  }
}

void BackupTaskMonitor::ReadLog(std::vector<BackupTask>& tasks, std::vector<MonitorState>& failures) {
  (void)log_.ReadSinceBookmark(kBackupLogChannel, kRunRecords, [&](const EventLog::FetchedEntry& fetched) {
    std::string message;
    if (fetched.renderError != os::kSuccess ||
        !log_.FormatEventMessage(fetched.entry.get(), fetched.system.providerName, message)) {
      return;
    }
    const std::string name = TaskNameIn(message);
    const auto task = std::find_if(tasks.begin(), tasks.end(),
                                   [&](const BackupTask& t) { return !name.empty() && SameName(t.name, name); });
    if (task != tasks.end()) {
      Apply(fetched.system.eventId, LocalTimeOf(fetched.system.timeCreated, os_.clock), *task, failures);
    }
  });
}

void BackupTaskMonitor::Apply(std::uint16_t eventId, const os::CalendarTime& at, BackupTask& task,
                              std::vector<MonitorState>& failures) const {
  const auto finish = [&](RunResult result) {
    task.lastResult = task.t1010;
    task.result = static_cast<std::uint32_t>(result);
    task.t1010 = {};
  };
  switch (eventId) {
    case 1010:
      task.t1010 = at;
      if (!IsSet(task.t3010)) {
        if (IsSet(task.t1011)) {
          finish(RunResult::Stopped);
          task.t1011 = {};
        } else if (!IsSet(task.t1012)) {
          task.busy = 0;
        }
      } else {
        finish(RunResult::Failed);
        task.t3010 = {};
        task.busy = 1;
        Fail(task, failures);
      }
      break;
    case 1011:
      if (task.busy == 0) {
        task.t1011 = at;
        if (IsSet(task.t1010)) {
          finish(RunResult::Stopped);
          task.t1011 = {};
        }
      } else {
        task.busy = 0;
      }
      break;
    case 1012:
      task.t1012 = at;
      if (IsSet(task.t1010)) {
        task.lastSuccess = task.t1010;
        finish(RunResult::Completed);
        task.t1012 = {};
        Close(task.name, failures, "バックアップに成功しました(%s)");
      }
      break;
    case 3010:
      task.t3010 = at;
      if (IsSet(task.t1010)) {
        finish(RunResult::Failed);
        task.t3010 = {};
        task.busy = 1;
        Fail(task, failures);
      }
      break;
    default:
      break;
  }
}

void BackupTaskMonitor::Fail(const BackupTask& task, std::vector<MonitorState>& failures) const {
  const ConditionOpening opening{act_id::kBackupFailed, TriggerOf(task), task.name,
                                 "バックアップに失敗しました(" + task.name + ")。", "バックアップに失敗しました。"};
  (void)tracker_.Track(failures, ItemMatch::ByKey, {task.name, 0, 0}, true, opening, {});
}

void BackupTaskMonitor::Close(std::string_view name, std::vector<MonitorState>& failures,
                              std::string_view message) const {
  const std::string key = RowText(name);
  const auto row = std::find_if(failures.begin(), failures.end(), [&](const MonitorState& s) { return s.item_key == key; });
  if (row == failures.end()) return;
  std::string text(message);
  text.replace(text.find("%s"), 2, row->item_key);
  const ConditionClosing closing{row->act_para, text};
  (void)tracker_.Track(failures, ItemMatch::ByKey, {std::string(name), 0, 0}, false, {}, closing);
}

}  // namespace orv
