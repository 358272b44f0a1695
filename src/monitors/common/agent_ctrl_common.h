// AgentCtrl_COMMON: the monitors any Windows server has, for one monitoring loop.
//
// Built when the monitoring loop starts and destroyed when it ends. It owns the current
// sample and the sums of the samples since the last periodic status, its open conditions (restored from
// the registry when built, saved after every pass) and the event-log forwarding position.
// The individual monitors fill their parts of these records as they arrive; until then each
// operation does only what is true today, and says so.
#pragma once

#include <memory>
#include <string>

#include "model/common_status_data.h"
#include "model/pass_kind.h"
#include "platform/agent_ctrl_config_file.h"
#include "platform/agent_event_log.h"
#include "monitors/common/driver_monitor.h"
#include "monitors/common/event_log_forwarder.h"
#include "monitors/common/network_identity_monitor.h"
#include "monitors/common/performance_monitor.h"
#include "monitors/common/server_backup_monitor.h"
#include "monitors/common/state_tables.h"
#include "monitors/common/ups_monitor.h"
#include "monitors/common/watcher_thread.h"
#include "os/os_ports.h"

namespace orv {

class AgentCtrl_COMMON {
 public:
  explicit AgentCtrl_COMMON(const os::OsPorts& os);
  AgentCtrl_COMMON(const AgentCtrl_COMMON&) = delete;
  AgentCtrl_COMMON& operator=(const AgentCtrl_COMMON&) = delete;
  virtual ~AgentCtrl_COMMON();

  // Once per start of monitoring: network identity and Windows Update in their start-up
  // forms, then host name, system start, unexpected shutdown and stop error.
  void CheckSystemState();
  // Starts the watcher threads: drives, the Windows Update search, installed software, the
  // power-manager pipe.
  void StartWatchers();
  // Signals every watcher, then waits for each at most 60000 ms: a stop takes as long as the
  // slowest watcher, not the sum of them.
  void StopWatchers();

  // One common pass: load sample (kept in the sample list by a round), event-log forwarding,
  // Windows Server Backup, UPS, then the state tables are saved.
  void Check(PassKind pass, const AgentCtrl_ConfigFile& definitions);
  // The network identity and driver checks that go with status messages and pending events;
  // the driver check runs the periodic Windows Update check first.
  void CheckNetwork();
  void CheckDrivers();
  // The periodic Windows Update check: new installations, policy changes and the sample's
  // Windows Update text (its start-up form runs in CheckSystemState).
  void CheckWindowsUpdate();
  // The MAC addresses the network identity monitor keeps, as the uploader is told them.
  const std::string& MacAddressText() const { return network_.MacAddressText(); }

  const CommonStatusData& Data() const { return data_; }
  CommonStatusData& Data() { return data_; }
  // Empties the sample list that a periodic status averaged.
  void ClearSamples() { data_.samples.Clear(); }

 private:
  void SaveStateTables();

  os::OsPorts os_;
  CommonStatusData data_;
  StoredTables stored_;  // what the three state tables hold, so an unchanged one is not written
  AgentEventLog log_;
  EventLogForwarder forwarder_;
  NetworkIdentityMonitor network_;
  DriverMonitor drivers_;
  PerformanceMonitor performance_;
  ServerBackupMonitor serverBackup_;
  UpsSearchMemory upsSearch_;
  // In the order they start and stop.
  WatcherThread driveWatcher_;
  WatcherThread updateWatcher_;
  WatcherThread softwareWatcher_;
  WatcherThread powerListener_;
};

}  // namespace orv
