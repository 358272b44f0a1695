// What the maker's RAID-check service and RAID setup tool keep in the registry about the
// arrays: the volumes as they should be, the disks held to be failed, the per-disk state bits
// and the member mask each volume had when it was built. Anything missing reads as empty or 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/registry.h"

namespace orv {

struct NormalVolume {
  std::string driveLetter;
  std::uint32_t memberMask = 0;
};

struct RaidCompanionValues {
  std::vector<NormalVolume> normalVolumes;  // NormalVolumeStatusInfo
  std::vector<std::uint32_t> errorDiskMasks;  // the port masks of ErrorDiskStatusInfo
  std::uint32_t sraidInfo = 0;
};

// The product root of the companion services' values on this appliance.
std::string RaidProductRoot(os::Registry& registry);
RaidCompanionValues ReadRaidCompanionValues(os::Registry& registry);
// The member mask the volume of `driveLetter` had when it was built ("MAP%%D"); 0 when missing.
std::uint32_t ArraySetupMask(os::Registry& registry, char driveLetter);

}  // namespace orv
