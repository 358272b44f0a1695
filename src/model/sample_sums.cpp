#include "model/sample_sums.h"

namespace orv {
namespace {

std::int64_t TotalOf(const std::vector<CounterValue>& values) {
  std::int64_t sum = 0;
  for (const CounterValue& value : values) {
    if (value.instance == "_Total") sum += value.value;
  }
  return sum;
}

// The entry of `key`, made (zero) when it is new; a key seen once allocates nothing later.
template <typename Value>
Value& EntryOf(std::map<std::string, Value, std::less<>>& sums, std::string_view key) {
  const auto found = sums.find(key);
  if (found != sums.end()) return found->second;
  return sums.emplace(std::string(key), Value{}).first->second;
}

}  // namespace

std::string_view ReducedInstance(std::string_view instance) {
  if (instance.size() == 1) return instance;
  const std::size_t space = instance.find(' ');
  return space == std::string_view::npos ? std::string_view() : instance.substr(0, space);
}

void SystemSampleSums::Add(const SystemSample& sample) {
  ++count;
  processorLoad += TotalOf(sample.snapshot.processorLoads);
  memoryLoad += sample.snapshot.memoryLoad;
  diskLoad += TotalOf(sample.snapshot.diskLoads);
  shareConnections += sample.shareConnections;
  for (const CounterValue& value : sample.snapshot.diskLoads) {
    const std::string_view disk = ReducedInstance(value.instance);
    if (!disk.empty()) EntryOf(diskLoads, disk) += value.value;
  }
  for (const NetworkRate& rate : sample.snapshot.networkRates) {
    NetworkRateSum& sum = EntryOf(networkRates, rate.instance);
    sum.sent += rate.sent;
    sum.received += rate.received;
  }
}

void NasSampleSums::Add(const FanReadings& readings, const std::vector<DiskInfo>& disks) {
  ++count;
  fans.cpuFanRpm += readings.cpuFanRpm;
  fans.cpuTemperature += readings.cpuTemperature;
  fans.caseFanRpm += readings.caseFanRpm;
  for (const DiskInfo& disk : disks) {
    if (disk.smartValid == 1) diskTemperatures[disk.portMask] += disk.temperature;
  }
}

}  // namespace orv
