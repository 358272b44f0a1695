// The backup task monitor: the maker's backup product's tasks, the outcome of their last runs,
// a failed run reported once, the next success or the task's deletion closing it.
//
// The task list survives restarts in `VaultBackupTaskInfo`; the position in the product's log
// is taken when the monitor is built, so runs logged while the agent was stopped are not read.
#pragma once

#include <string_view>
#include <vector>

#include "model/backup_task.h"
#include "model/event_queue.h"
#include "model/monitor_state.h"
#include "monitors/common/condition_tracker.h"
#include "monitors/common/state_tables.h"
#include "os/os_ports.h"
#include "platform/event_log.h"

namespace orv {

inline constexpr std::string_view kBackupProductKey = "SOFTWARE\\Wow6432Node\\MERIDEX\\VaultBackup";
inline constexpr std::string_view kBackupLogChannel = "VaultBackupService";

// The task a log message names: the text between the first "「" (or the start) and the
// message's first "」"; empty when it has no "」" or that comes before the "「".
std::string TaskNameIn(std::string_view message);

// "[name][key][result][last success][last result]" rows of the task list.
// With `stored`, VaultBackupTaskInfo is read into it and written only when it changed.
std::vector<BackupTask> LoadBackupTasks(os::Registry& registry, StoredTables* stored = nullptr);
void SaveBackupTasks(os::Registry& registry, const std::vector<BackupTask>& tasks, StoredTables* stored = nullptr);

class BackupTaskMonitor {
 public:
  BackupTaskMonitor(const os::OsPorts& os, EventQueue& queue);

  // The stored task list, remembered so that Check writes it only when it changed.
  std::vector<BackupTask> LoadTasks() { return LoadBackupTasks(os_.registry, &stored_); }

  // One run: follows the product's task list, then applies the new log records to `tasks`;
  // failures open and close rows of `failures` (VaultBackupStatusTable). Saves the task list.
  void Check(std::vector<BackupTask>& tasks, std::vector<MonitorState>& failures);

 private:
  void FollowTaskList(std::vector<BackupTask>& tasks, std::vector<MonitorState>& failures) const;
  void ReadLog(std::vector<BackupTask>& tasks, std::vector<MonitorState>& failures);
  void Apply(std::uint16_t eventId, const os::CalendarTime& at, BackupTask& task,
             std::vector<MonitorState>& failures) const;
  void Fail(const BackupTask& task, std::vector<MonitorState>& failures) const;
  // Posts the closing event of `name`'s open failure, if any, and removes its row.
  void Close(std::string_view name, std::vector<MonitorState>& failures, std::string_view message) const;

  os::OsPorts os_;
  ConditionTracker tracker_;
  EventLog log_;
  StoredTables stored_;  // what VaultBackupTaskInfo holds
};

}  // namespace orv
