// AgentCtrl_LNAS: the monitors of the appliance's own hardware, for one monitoring loop.
//
// Built when the monitoring loop starts with the brand and model flags of the appliance.
// It owns the fan readings, the disks, volumes and backup tasks, the NAS samples since the
// last periodic status and its open conditions (restored from the registry when built,
// saved after every pass). The monitors fill these as they arrive.
#pragma once

#include <cstdint>

#include "model/nas_status_data.h"
#include "model/pass_kind.h"
#include "monitors/nas/backup_task_monitor.h"
#include "monitors/nas/companion_settings.h"
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
  void CheckEncryptedVolumes();
  void CheckCompanionSettings();

  bool MeridexBrand() const { return meridexBrand_; }
  std::uint32_t ModelFlags() const { return modelFlags_; }
  const NasStatusData& Data() const { return data_; }
  NasStatusData& Data() { return data_; }
  void ClearSamples() { data_.samples.clear(); }

 private:
  void SaveStateTables();

  os::OsPorts os_;
  bool meridexBrand_;
  std::uint32_t modelFlags_;
  NasStatusData data_;
  CompanionSettings companion_;
  BackupTaskMonitor backups_;
};

}  // namespace orv
