// The NAS readings the status message shows: fans and temperature now, and what each
// periodic pass since the last periodic status saw.
#pragma once

#include <cstdint>
#include <vector>

#include "model/disk_info.h"

namespace orv {

struct FanReadings {
  std::uint32_t cpuFanRpm = 0;
  std::uint32_t cpuTemperature = 0;
  std::uint32_t caseFanRpm = 0;
};

struct NasSample {
  FanReadings readings;
  std::vector<DiskInfo> disks;
};

}  // namespace orv
