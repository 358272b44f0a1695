#include "monitors/common/agent_ctrl_common.h"

#include "monitors/common/state_tables.h"
#include "report/event_queue.h"

namespace orv {

AgentCtrl_COMMON::AgentCtrl_COMMON(const os::OsPorts& os)
    : os_(os), forwarder_(os.eventLogStore, os.clock) {
  LoadSingle(os.registry, kBackupStatusTable, data_.backupState);
  LoadSingle(os.registry, kUPSConnectStatusTable, data_.upsConnectState);
  LoadSingle(os.registry, kUPSDegradeStatusTable, data_.upsDegradeState);
}

AgentCtrl_COMMON::~AgentCtrl_COMMON() = default;

void AgentCtrl_COMMON::RunStartupChecks() {}

void AgentCtrl_COMMON::StartWatchers() {}

void AgentCtrl_COMMON::StopWatchers() {}

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
