#include "monitors/nas/agent_ctrl_lnas.h"

#include "model/event_queue.h"
#include "monitors/common/state_tables.h"
#include "model/model_flags.h"
#include "monitors/nas/bay_tables.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/fan_temperature_monitor.h"
#include "monitors/nas/port_map.h"
#include "monitors/nas/raid_companion_values.h"
#include "monitors/nas/volume_list.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"

namespace orv {

AgentCtrl_LNAS::AgentCtrl_LNAS(const os::OsPorts& os, bool meridexBrand, std::uint32_t modelFlags)
    : os_(os), meridexBrand_(meridexBrand), modelFlags_(modelFlags), log_(os.eventReporter, os.system),
      companion_(os, meridexBrand, NasEventQueue()), disks_(os, NasEventQueue(), meridexBrand, modelFlags),
      diskErrors_(os, NasEventQueue(), modelFlags), redundancy_(os, NasEventQueue(), meridexBrand, modelFlags),
      capacity_(NasEventQueue(), os.clock), backups_(os, NasEventQueue()),
      encryptedVolumes_(os, NasEventQueue()), raidMode_(os, NasEventQueue()) {
  LoadSingle(os.registry, kCPUFanStatusTable, data_.cpuFanState, &stored_);
  LoadSingle(os.registry, kCPUTempStatusTable, data_.cpuTempState, &stored_);
  LoadSingle(os.registry, kCASEFanStatusTable, data_.caseFanState, &stored_);
  LoadList(os.registry, kHDDTempStatusTable, data_.hddTempStates, &stored_);
  LoadList(os.registry, kHDDStaStatusTable, data_.hddStaStates, &stored_);
  LoadList(os.registry, kVolCapaStatusTable, data_.volCapaStates, &stored_);
  LoadList(os.registry, kVolStaStatusTable, data_.volStaStates, &stored_);
  LoadList(os.registry, kVaultBackupStatusTable, data_.vaultBackupStates, &stored_);
  data_.tasks = backups_.LoadTasks();
}

AgentCtrl_LNAS::~AgentCtrl_LNAS() = default;

void AgentCtrl_LNAS::Initialize() {
  // The companions' settings as they are now: only later changes are events.
  companion_.CheckMailSettings(false);
  companion_.CheckPowerSchedule(false);
}

void AgentCtrl_LNAS::Check(PassKind pass) {
  FanTemperatureMonitor(os_, modelFlags_, NasEventQueue()).Check(data_);
  const RaidBuild layout(os_.diskService, modelFlags_);
  CheckDisks(layout);
  CheckVolumes(layout);
  diskErrors_.Check(data_.disks);
  backups_.Check(data_.tasks, data_.vaultBackupStates);
  SaveStateTables();
  if (pass == PassKind::Round) data_.samples.Add(data_.readings, data_.disks);
}

void AgentCtrl_LNAS::CheckDisks(const RaidBuild& layout) {
  if ((modelFlags_ & model::kBoardSeries) != 0) {
    data_.disks.clear();  // this line has no bays to watch
    return;
  }
  if (!layout.Initialized()) {
    log_.Error(event_id::kDiskInfoFailed, "HDD情報の取得に失敗しました。");
    log_.Error(event_id::kVolumeInfoFailed, "ボリューム情報の取得に失敗しました。");
  }
  // Only disks in the bays are listed; a USB disk is not woken for SMART data nobody reads.
  const std::uint32_t bays = BayCount(CodesOf(modelFlags_).bayCode);
  std::vector<LayoutDisk> inBays;
  for (const LayoutDisk& disk : layout.Disks()) {
    for (std::uint32_t slot = 0; slot < bays; ++slot) {
      if (disk.portMask == SlotMask(slot)) inBays.push_back(disk);
    }
  }
  const std::vector<DiskInfo> found = BuildDiskList(os_.storage, inBays, meridexBrand_, modelFlags_);
  disks_.Check(found, layout.Initialized(), data_.disks, data_.hddStaStates, data_.hddTempStates);
}

void AgentCtrl_LNAS::CheckVolumes(const RaidBuild& layout) {
  data_.volumes = BuildVolumeList(layout.Volumes(), layout.Disks(), os_.volumes,
                                  [this](const std::string& id, std::uint32_t& number) { return EncryptedDrive(id, number); });
  encryption_.reset();  // the last user unloads the library until a later pass needs it
  const RaidCompanionValues companion = ReadRaidCompanionValues(os_.registry);
  const RegHandle settings(os_.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
  const std::uint32_t threshold = settings.GetDwordOr("DISKCapaThreshold", kDefaultDiskCapaThreshold);
  for (const VolumeInfo& volume : data_.volumes) {
    redundancy_.Check(volume, companion, data_.volStaStates);
    capacity_.Check(volume, threshold, data_.volCapaStates);
  }
}

bool AgentCtrl_LNAS::EncryptedDrive(const std::string& volumeId, std::uint32_t& driveNumber) {
  if (!encryption_) encryption_.emplace(os_);
  return encryption_->GetDriveNoByGUID(volumeId, driveNumber) == 0;
}

void AgentCtrl_LNAS::CheckEncryptedVolumes() {
  encryptedVolumes_.Check();
  raidMode_.Check();
}

void AgentCtrl_LNAS::CheckCompanionSettings() {
  companion_.CheckMailSettings(true);
  companion_.CheckPowerSchedule(true);
}

void AgentCtrl_LNAS::SaveStateTables() {
  SaveSingle(os_.registry, kCPUFanStatusTable, data_.cpuFanState, &stored_);
  SaveSingle(os_.registry, kCPUTempStatusTable, data_.cpuTempState, &stored_);
  SaveSingle(os_.registry, kCASEFanStatusTable, data_.caseFanState, &stored_);
  SaveList(os_.registry, kHDDTempStatusTable, data_.hddTempStates, &stored_);
  SaveList(os_.registry, kHDDStaStatusTable, data_.hddStaStates, &stored_);
  SaveList(os_.registry, kVolCapaStatusTable, data_.volCapaStates, &stored_);
  SaveList(os_.registry, kVolStaStatusTable, data_.volStaStates, &stored_);
  SaveList(os_.registry, kVaultBackupStatusTable, data_.vaultBackupStates, &stored_);
}

}  // namespace orv
