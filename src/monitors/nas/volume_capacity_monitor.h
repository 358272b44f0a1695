// VolumeCapacityMonitor: a volume whose free space falls to `DISKCapaThreshold` percent is
// reported once, and again when it has 10 points more than the threshold free.
#pragma once

#include <cstdint>
#include <vector>

#include "model/monitor_state.h"
#include "model/volume_info.h"
#include "monitors/common/condition_tracker.h"
#include "os/virtual_disk_service.h"

namespace orv {

inline constexpr std::uint32_t kDefaultDiskCapaThreshold = 30;

class VolumeCapacityMonitor {
 public:
  VolumeCapacityMonitor(EventQueue& queue, os::Clock& clock) : tracker_(queue, clock) {}

  // One volume against `threshold` (percent); rows of VolCapaStatusTable are keyed by letter.
  void Check(const VolumeInfo& volume, std::uint32_t threshold, std::vector<MonitorState>& lowVolumes) const;

 private:
  ConditionTracker tracker_;
};

}  // namespace orv
