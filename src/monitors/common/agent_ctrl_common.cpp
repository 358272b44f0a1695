#include "monitors/common/agent_ctrl_common.h"

#include "platform/agent_event_log.h"

#include "model/event_queue.h"
#include "monitors/common/drive_watcher.h"
#include "monitors/common/power_manager_pipe.h"
#include "monitors/common/share_connections.h"
#include "monitors/common/software_watcher.h"
#include "monitors/common/state_tables.h"
#include "monitors/common/system_state_monitor.h"
#include "monitors/common/ups_monitor.h"
#include "monitors/common/windows_update_monitor.h"
#include "monitors/common/windows_update_watcher.h"

namespace orv {

AgentCtrl_COMMON::AgentCtrl_COMMON(const os::OsPorts& os)
    : os_(os),
      log_(os.eventReporter, os.system),
      forwarder_(os.eventLogStore, os.clock),
      network_(os, log_, CommonEventQueue()),
      drivers_(os, log_, CommonEventQueue()),
      performance_(os.counters),
      serverBackup_(os.eventLogStore, os.clock, CommonEventQueue()) {
  performance_.Open();  // a first sample now, so the first round already has rates
  LoadSingle(os.registry, kBackupStatusTable, data_.backupState, &stored_);
  LoadSingle(os.registry, kUPSConnectStatusTable, data_.upsConnectState, &stored_);
  LoadSingle(os.registry, kUPSDegradeStatusTable, data_.upsDegradeState, &stored_);
}

AgentCtrl_COMMON::~AgentCtrl_COMMON() {
  StopWatchers();
  performance_.Close();
}

void AgentCtrl_COMMON::CheckSystemState() {
  network_.CheckAtStartUp(data_.current.adapters);
  WindowsUpdateMonitor(os_, CommonEventQueue()).CheckAtStartUp(data_.current.windowsUpdateMessage);
  SystemStateMonitor(os_, CommonEventQueue()).Check();
}

void AgentCtrl_COMMON::StartWatchers() {
  // Each body takes copies of the ports it uses, never this object (see WatcherThread).
  (void)driveWatcher_.Start(os_.sync, [ports = os_](os::Event& stop) {
    RunDriveWatcher(ports, stop, CommonEventQueue());
  });
  (void)updateWatcher_.Start(os_.sync, [ports = os_](os::Event& stop) { RunWindowsUpdateWatcher(ports, stop); });
  (void)softwareWatcher_.Start(os_.sync, [ports = os_](os::Event& stop) {
    RunSoftwareWatcher(ports, stop, CommonEventQueue());
  });
  (void)powerListener_.Start(os_.sync, [ports = os_](os::Event& stop) {
    service::RunPowerManagerPipe(ports.pipes, ports.sync, stop, AgentEventLog(ports.eventReporter, ports.system));
  });
}

void AgentCtrl_COMMON::StopWatchers() {
  for (WatcherThread* watcher : {&driveWatcher_, &updateWatcher_, &softwareWatcher_, &powerListener_}) {
    watcher->SignalStop();
  }
  (void)driveWatcher_.Stop();
  (void)updateWatcher_.Stop();
  (void)softwareWatcher_.Stop();
  (void)powerListener_.Stop();
}

void AgentCtrl_COMMON::Check(PassKind pass, const AgentCtrl_ConfigFile& definitions) {
  // A sample that could not be taken reads as zeros, which is what the message reports then.
  performance_.Collect();
  data_.current.snapshot = performance_.Snapshot();
  data_.current.shareConnections = CountShareConnections(os_.shares);
  if (pass == PassKind::Round) data_.samples.Add(data_.current);
  forwarder_.Forward(definitions, CommonEventQueue());
  serverBackup_.Check(data_.current.backup, data_.backupState);
  UpsMonitor(os_.registry, os_.clock, os_.hid, CommonEventQueue(), &upsSearch_)
      .Check(data_.current.ups, data_.upsConnectState, data_.upsDegradeState);
  SaveStateTables();
}

void AgentCtrl_COMMON::CheckNetwork() { network_.Check(data_.current.adapters); }

void AgentCtrl_COMMON::CheckDrivers() {
  CheckWindowsUpdate();
  drivers_.Check(data_.current.adapters);
}

void AgentCtrl_COMMON::CheckWindowsUpdate() {
  WindowsUpdateMonitor(os_, CommonEventQueue()).Check(data_.current.windowsUpdateMessage);
}

void AgentCtrl_COMMON::SaveStateTables() {
  SaveSingle(os_.registry, kBackupStatusTable, data_.backupState, &stored_);
  SaveSingle(os_.registry, kUPSConnectStatusTable, data_.upsConnectState, &stored_);
  SaveSingle(os_.registry, kUPSDegradeStatusTable, data_.upsDegradeState, &stored_);
}

}  // namespace orv
