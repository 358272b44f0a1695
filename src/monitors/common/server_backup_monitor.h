// The Windows Server Backup monitor: the result and times of the latest backup runs as the
// "Microsoft-Windows-Backup" log records them, and a failed backup reported once, with a
// closing event when a later backup succeeds.
//
// The result and times are rebuilt from the log's history after every start (newest entry
// first, until the newest result and the starts that go with it are known), then kept current
// from the entries written since the previous pass. Failures that happened while the agent
// was stopped only set the result; the open failure itself survives restarts in its state
// table, so a failure reported before a restart is closed by the first success after it.
#pragma once

#include <cstdint>

#include "model/event_queue.h"
#include "model/monitor_state.h"
#include "model/system_sample.h"
#include "monitors/common/condition_tracker.h"
#include "os/clock.h"
#include "os/event_log_store.h"
#include "platform/event_log.h"

namespace orv {

class ServerBackupMonitor {
 public:
  static constexpr std::string_view kChannel = "Microsoft-Windows-Backup";

  // Bookmarks the channel's newest entry: entries already there are history, not news.
  ServerBackupMonitor(os::EventLogStore& store, os::Clock& clock, EventQueue& queue);

  // One pass: `info` is the sample's backup information, `failure` the BackupStatusTable entry.
  void Check(ServerBackupInfo& info, MonitorState& failure);

 private:
  void ScanHistory(ServerBackupInfo& info);
  void ReadNewEntries(ServerBackupInfo& info, MonitorState& failure);
  os::CalendarTime LocalTimeOf(std::uint64_t fileTime) const;

  os::EventLogStore& store_;
  os::Clock& clock_;
  ConditionTracker tracker_;
  EventLog reader_;
};

}  // namespace orv
