#include "monitors/common/agent_ctrl_common.h"

#include "monitors/common/state_tables.h"
#include "model/event_queue.h"
#include "monitors/common/power_manager_pipe.h"

namespace orv {

AgentCtrl_COMMON::AgentCtrl_COMMON(const os::OsPorts& os)
    : os_(os), forwarder_(os.eventLogStore, os.clock) {
  LoadSingle(os.registry, kBackupStatusTable, data_.backupState);
  LoadSingle(os.registry, kUPSConnectStatusTable, data_.upsConnectState);
  LoadSingle(os.registry, kUPSDegradeStatusTable, data_.upsDegradeState);
}

AgentCtrl_COMMON::~AgentCtrl_COMMON() { StopWatchers(); }

void AgentCtrl_COMMON::RunStartupChecks() {}

namespace {
constexpr std::uint32_t kWatcherJoinTimeoutMs = 60000;
}  // namespace

void AgentCtrl_COMMON::StartWatchers() {
  // Manual reset: every wait of the thread sees the stop, none consumes it.
  powerListenerStop_ = os_.sync.NewEvent(os::EventReset::Manual, {}).take();
  if (!powerListenerStop_) return;  // without a stop event the thread could never be ended
  // The thread holds what it uses itself: one that outlives its wait is never left with a
  // closed event or a destroyed monitor object.
  auto listener = os_.sync.StartThread([ports = os_, stop = powerListenerStop_] {
    service::RunPowerManagerPipe(ports.pipes, ports.sync, *stop);
  });
  powerListener_ = std::move(listener).take();
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

void AgentCtrl_COMMON::Check(bool sample, const AgentCtrl_ConfigFile& definitions) {
  // The load sample is still empty; it is kept so the periodic averages count every pass.
  if (sample) data_.samples.push_back(data_.current);
  forwarder_.Forward(definitions, CommonEventQueue());
  SaveStateTables();
}

void AgentCtrl_COMMON::CheckNetworkIdentity(int /*flag*/) {}

void AgentCtrl_COMMON::CheckDriverVersions(int /*flag*/) {}

void AgentCtrl_COMMON::SaveStateTables() {
  SaveSingle(os_.registry, kBackupStatusTable, data_.backupState);
  SaveSingle(os_.registry, kUPSConnectStatusTable, data_.upsConnectState);
  SaveSingle(os_.registry, kUPSDegradeStatusTable, data_.upsDegradeState);
}

}  // namespace orv
