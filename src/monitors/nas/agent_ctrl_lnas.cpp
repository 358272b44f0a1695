#include "monitors/nas/agent_ctrl_lnas.h"

#include "model/event_queue.h"
#include "monitors/common/state_tables.h"
#include "monitors/nas/fan_temperature_monitor.h"

namespace orv {

AgentCtrl_LNAS::AgentCtrl_LNAS(const os::OsPorts& os, bool meridexBrand, std::uint32_t modelFlags)
    : os_(os), meridexBrand_(meridexBrand), modelFlags_(modelFlags), companion_(os, meridexBrand, NasEventQueue()),
      backups_(os, NasEventQueue()) {
  LoadSingle(os.registry, kCPUFanStatusTable, data_.cpuFanState);
  LoadSingle(os.registry, kCPUTempStatusTable, data_.cpuTempState);
  LoadSingle(os.registry, kCASEFanStatusTable, data_.caseFanState);
  LoadList(os.registry, kHDDTempStatusTable, data_.hddTempStates);
  LoadList(os.registry, kHDDStaStatusTable, data_.hddStaStates);
  LoadList(os.registry, kVolCapaStatusTable, data_.volCapaStates);
  LoadList(os.registry, kVolStaStatusTable, data_.volStaStates);
  LoadList(os.registry, kVaultBackupStatusTable, data_.vaultBackupStates);
  data_.tasks = LoadBackupTasks(os.registry);
}

AgentCtrl_LNAS::~AgentCtrl_LNAS() = default;

void AgentCtrl_LNAS::Initialize() {
  // The companions' settings as they are now: only later changes are events.
  companion_.CheckMailSettings(false);
  companion_.CheckPowerSchedule(false);
}

void AgentCtrl_LNAS::Check(PassKind pass) {
  FanTemperatureMonitor(os_, modelFlags_, NasEventQueue()).Check(data_);
  // The disks, volumes and RAID and the disk error events come here, in that order.
  backups_.Check(data_.tasks, data_.vaultBackupStates);
  if (pass == PassKind::Round) data_.samples.push_back({data_.readings, data_.disks});
  SaveStateTables();
}

void AgentCtrl_LNAS::CheckEncryptedVolumes() {}

void AgentCtrl_LNAS::CheckCompanionSettings() {
  companion_.CheckMailSettings(true);
  companion_.CheckPowerSchedule(true);
}

void AgentCtrl_LNAS::SaveStateTables() {
  SaveSingle(os_.registry, kCPUFanStatusTable, data_.cpuFanState);
  SaveSingle(os_.registry, kCPUTempStatusTable, data_.cpuTempState);
  SaveSingle(os_.registry, kCASEFanStatusTable, data_.caseFanState);
  SaveList(os_.registry, kHDDTempStatusTable, data_.hddTempStates);
  SaveList(os_.registry, kHDDStaStatusTable, data_.hddStaStates);
  SaveList(os_.registry, kVolCapaStatusTable, data_.volCapaStates);
  SaveList(os_.registry, kVolStaStatusTable, data_.volStaStates);
  SaveList(os_.registry, kVaultBackupStatusTable, data_.vaultBackupStates);
}

}  // namespace orv
