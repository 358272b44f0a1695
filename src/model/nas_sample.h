// The fan and temperature readings of one NAS pass, as the status message shows them.
#pragma once

#include <cstdint>

namespace orv {

struct FanReadings {
  std::uint32_t cpuFanRpm = 0;
  std::uint32_t cpuTemperature = 0;
  std::uint32_t caseFanRpm = 0;
};

}  // namespace orv
