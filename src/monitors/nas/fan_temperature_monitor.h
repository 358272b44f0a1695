// The processor fan, processor temperature and case fan monitors: the first step of the NAS
// pass.
//
// The readings come from registry values that the maker's front-panel components publish;
// which component, and so which readings exist, depends on the platform. A condition opens at
// the threshold and closes only past a margin (100 revolutions above a fan threshold, 5 degrees
// below the temperature threshold), so a reading hovering at the threshold is reported once.
#pragma once

#include <cstdint>
#include <optional>

#include "model/nas_status_data.h"
#include "monitors/common/condition_tracker.h"
#include "os/os_ports.h"

namespace orv {

inline constexpr std::uint32_t kDefaultCpuFanThreshold = 2000;
inline constexpr std::uint32_t kDefaultCpuTempThreshold = 70;
inline constexpr std::uint32_t kDefaultCaseFanThreshold = 1000;

// One pass's readings; nullopt where the platform publishes none or it cannot be read.
struct FanTemperatureReadings {
  std::optional<std::uint32_t> cpuFanRpm;
  std::optional<std::uint32_t> cpuTemperature;
  std::optional<std::uint32_t> caseFanRpm;
};

FanTemperatureReadings ReadFanTemperature(os::Registry& registry, std::uint32_t modelFlags);

class FanTemperatureMonitor {
 public:
  FanTemperatureMonitor(const os::OsPorts& os, std::uint32_t modelFlags, EventQueue& queue)
      : os_(os), modelFlags_(modelFlags), tracker_(queue, os.clock) {}

  // Reads, compares with the thresholds of the agent's settings and keeps the readings that
  // exist in `data.readings`; conditions live in the three single state entries of `data`.
  void Check(NasStatusData& data) const;

 private:
  void CheckFan(std::optional<std::uint32_t> rpm, std::uint32_t threshold, MonitorState& row, std::int32_t actId,
                const char* detected, const char* status, const char* recovered) const;
  void CheckTemperature(std::optional<std::uint32_t> celsius, std::uint32_t threshold, MonitorState& row) const;

  os::OsPorts os_;
  std::uint32_t modelFlags_;
  ConditionTracker tracker_;
};

}  // namespace orv
