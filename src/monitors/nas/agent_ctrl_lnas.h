// AgentCtrl_LNAS: the monitors of the appliance's own hardware, for one monitoring loop.
//
// Built when the monitoring loop starts with the brand and model flags of the appliance.
// It owns the fan readings, the disks, volumes and backup tasks, the sums of the NAS samples
// since the last periodic status and its open conditions (restored from the registry when built,
// saved after every pass). The monitors fill these as they arrive.
#pragma once

#include <cstdint>
#include <optional>

#include "model/nas_status_data.h"
#include "model/pass_kind.h"
#include "monitors/common/state_tables.h"
#include "monitors/nas/backup_task_monitor.h"
#include "monitors/nas/companion_settings.h"
#include "monitors/nas/disk_error_monitor.h"
#include "monitors/nas/disk_monitor.h"
#include "monitors/nas/encrypted_volume_monitor.h"
#include "monitors/nas/raid_build.h"
#include "monitors/nas/raid_mode_monitor.h"
#include "monitors/nas/volume_capacity_monitor.h"
#include "monitors/nas/volume_redundancy_monitor.h"
#include "monitors/nas/vs_query.h"
#include "platform/agent_event_log.h"
#include "os/os_ports.h"

namespace orv {

class AgentCtrl_LNAS {
 public:
  AgentCtrl_LNAS(const os::OsPorts& os, bool meridexBrand, std::uint32_t modelFlags);
  AgentCtrl_LNAS(const AgentCtrl_LNAS&) = delete;
  AgentCtrl_LNAS& operator=(const AgentCtrl_LNAS&) = delete;
  virtual ~AgentCtrl_LNAS();

  // The start-up work of the NAS monitors (bays, disk serial memory).
  void Initialize();
  // One NAS pass: fans and temperatures, disks, volumes and RAID, disk errors, backup tasks,
  // then the state tables are saved; a round keeps a NAS sample.
  void Check(PassKind pass);
  // The event step after a pass: the encryption product's records and the RAID mode changes.
  void CheckEncryptedVolumes();
  void CheckCompanionSettings();

  bool MeridexBrand() const { return meridexBrand_; }
  std::uint32_t ModelFlags() const { return modelFlags_; }
  const NasStatusData& Data() const { return data_; }
  NasStatusData& Data() { return data_; }
  void ClearSamples() { data_.samples.Clear(); }

 private:
  void CheckDisks(const RaidBuild& layout);
  void CheckVolumes(const RaidBuild& layout);
  // The drive number of an encrypted volume the layout sees as raw and letterless. The
  // library is loaded on the first such volume of a pass only: loading may wait ~10 s for the
  // product's service, and a pass without such a volume should not pay that.
  bool EncryptedDrive(const std::string& volumeId, std::uint32_t& driveNumber);
  void SaveStateTables();

  os::OsPorts os_;
  bool meridexBrand_;
  std::uint32_t modelFlags_;
  NasStatusData data_;
  StoredTables stored_;  // what the eight state tables hold, so an unchanged one is not written
  AgentEventLog log_;
  CompanionSettings companion_;
  DiskMonitor disks_;
  DiskErrorMonitor diskErrors_;
  VolumeRedundancyMonitor redundancy_;
  VolumeCapacityMonitor capacity_;
  BackupTaskMonitor backups_;
  EncryptedVolumeMonitor encryptedVolumes_;
  RaidModeMonitor raidMode_;
  std::optional<VsQuery> encryption_;  // alive during one pass's volume list at most
};

}  // namespace orv
