// VolumeRedundancyMonitor: a RAID volume that lost a member is reported with the bays that
// are missing, then its rebuild when it starts, then its repair when it is healthy again and no
// member is on the RAID-check service's failed list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/monitor_state.h"
#include "model/volume_info.h"
#include "monitors/common/condition_tracker.h"
#include "monitors/nas/raid_companion_values.h"
#include "os/os_ports.h"

namespace orv {

// The disk numbers of the bays a degraded volume misses, as "3" or "2,3": bays expected in
// `expectedMask` and absent from `presentMask` once the failed bits of `sraidInfo` are taken
// out of it.
std::string MissingDisks(std::uint32_t expectedMask, std::uint32_t presentMask, std::uint32_t sraidInfo,
                         bool meridexBrand, std::uint32_t modelFlags);

class VolumeRedundancyMonitor {
 public:
  VolumeRedundancyMonitor(const os::OsPorts& os, EventQueue& queue, bool meridexBrand, std::uint32_t modelFlags);

  // One volume, with the companion values read once for the pass; rows of VolStaStatusTable.
  void Check(const VolumeInfo& volume, const RaidCompanionValues& companion,
             std::vector<MonitorState>& degraded) const;

 private:
  bool IsDegraded(const VolumeInfo& volume, const RaidCompanionValues& companion) const;
  std::uint32_t ExpectedMask(char letter, const RaidCompanionValues& companion) const;

  os::OsPorts os_;
  EventQueue& queue_;
  ConditionTracker tracker_;
  bool meridexBrand_;
  std::uint32_t modelFlags_;
};

}  // namespace orv
