// What the NAS monitors hold for the status message: readings, disks, volumes, backup tasks,
// the sums of the samples since the last periodic status, and their open conditions.
#pragma once

#include <vector>

#include "model/monitor_state.h"
#include "model/backup_task.h"
#include "model/nas_sample.h"
#include "model/sample_sums.h"
#include "model/volume_info.h"
#include "model/disk_info.h"

namespace orv {

struct NasStatusData {
  FanReadings readings;
  NasSampleSums samples;  // of the rounds since the last periodic status
  std::vector<DiskInfo> disks;
  std::vector<VolumeInfo> volumes;
  std::vector<BackupTask> tasks;
  MonitorState cpuFanState;
  MonitorState cpuTempState;
  MonitorState caseFanState;
  std::vector<MonitorState> hddTempStates;
  std::vector<MonitorState> hddStaStates;
  std::vector<MonitorState> volCapaStates;
  std::vector<MonitorState> volStaStates;
  std::vector<MonitorState> vaultBackupStates;
};

}  // namespace orv
