// Running sums of the round samples since the last periodic status: what that status averages,
// kept per key (counter instance, bay) so that the memory they take depends on the machine's
// counters and bays, not on how many rounds a period holds.
//
// Each sum takes its values in the order the rounds gave them, so an average made from it is
// the same number, to the last bit, as one made from the samples themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model/disk_info.h"
#include "model/nas_sample.h"
#include "model/system_sample.h"

namespace orv {

// A disk-load counter instance reduced to the disk number it starts with ("3 D: E:" gives
// "3"); a one-character name stays as it is; a longer one without a space gives "".
std::string_view ReducedInstance(std::string_view instance);

struct NetworkRateSum {
  std::int64_t sent = 0;
  std::int64_t received = 0;
};

struct SystemSampleSums {
  std::uint64_t count = 0;
  std::int64_t processorLoad = 0;  // of the "_Total" instances
  std::int64_t memoryLoad = 0;
  std::int64_t diskLoad = 0;       // of the "_Total" instances
  std::uint64_t shareConnections = 0;
  // By reduced instance (ReducedInstance); only instances that reduce to a number are kept.
  std::map<std::string, double, std::less<>> diskLoads;
  // By counter instance.
  std::map<std::string, NetworkRateSum, std::less<>> networkRates;

  void Add(const SystemSample& sample);
  void Clear() { *this = {}; }
};

struct FanReadingSums {
  std::uint64_t cpuFanRpm = 0;
  std::uint64_t cpuTemperature = 0;
  std::uint64_t caseFanRpm = 0;
};

struct NasSampleSums {
  std::uint64_t count = 0;
  FanReadingSums fans;
  // By port mask, of the disks whose SMART data was valid.
  std::map<std::uint32_t, std::uint64_t> diskTemperatures;

  void Add(const FanReadings& readings, const std::vector<DiskInfo>& disks);
  void Clear() { *this = {}; }
};

}  // namespace orv
