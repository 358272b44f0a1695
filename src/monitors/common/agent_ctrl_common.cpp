#include "monitors/common/agent_ctrl_common.h"

#include "model/event_queue.h"
#include "monitors/common/power_manager_pipe.h"
#include "monitors/common/state_tables.h"
#include "monitors/common/system_state_monitor.h"

namespace orv {

AgentCtrl_COMMON::AgentCtrl_COMMON(const os::OsPorts& os)
    : os_(os),
      log_(os.eventReporter, os.system),
      forwarder_(os.eventLogStore, os.clock),
      network_(os, log_, CommonEventQueue()) {
  LoadSingle(os.registry, kBackupStatusTable, data_.backupState);
  LoadSingle(os.registry, kUPSConnectStatusTable, data_.upsConnectState);
  LoadSingle(os.registry, kUPSDegradeStatusTable, data_.upsDegradeState);
}

AgentCtrl_COMMON::~AgentCtrl_COMMON() { StopWatchers(); }

void AgentCtrl_COMMON::CheckSystemState() {
  network_.CheckAtStartUp(data_.current.adapters);
  SystemStateMonitor(os_, CommonEventQueue()).Check();
}

namespace {
constexpr std::uint32_t kWatcherJoinTimeoutMs = 60000;
}  // namespace

void AgentCtrl_COMMON::StartWatchers() {
  os::OsError error = os::kSuccess;
  // Manual reset: every wait of the thread sees the stop, none consumes it.
  powerListenerStop_ = os_.sync.NewEvent(os::EventReset::Manual, {}, error);
  if (!powerListenerStop_) return;  // without a stop event the thread could never be ended
  // The thread holds what it uses itself: one that outlives its wait is never left with a
  // closed event or a destroyed monitor object.
  powerListener_ = os_.sync.StartThread(
      [ports = os_, stop = powerListenerStop_] {
        service::RunPowerManagerPipe(ports.pipes, ports.sync, *stop);
      },
      error);
}

void AgentCtrl_COMMON::StopWatchers() {
  if (powerListener_) {
    powerListenerStop_->Set();
    // A watcher that does not end in time is left running; only its handle is let go.
    powerListener_->Join(kWatcherJoinTimeoutMs);
    powerListener_.reset();
  }
  powerListenerStop_.reset();
}

void AgentCtrl_COMMON::Check(PassKind pass, const AgentCtrl_ConfigFile& definitions) {
  // The load sample is still empty; it is kept so the periodic averages count every pass.
  if (pass == PassKind::Round) data_.samples.push_back(data_.current);
  forwarder_.Forward(definitions, CommonEventQueue());
  SaveStateTables();
}

void AgentCtrl_COMMON::CheckNetwork() { network_.Check(data_.current.adapters); }

void AgentCtrl_COMMON::CheckDrivers() {}

void AgentCtrl_COMMON::SaveStateTables() {
  SaveSingle(os_.registry, kBackupStatusTable, data_.backupState);
  SaveSingle(os_.registry, kUPSConnectStatusTable, data_.upsConnectState);
  SaveSingle(os_.registry, kUPSDegradeStatusTable, data_.upsDegradeState);
}

}  // namespace orv
