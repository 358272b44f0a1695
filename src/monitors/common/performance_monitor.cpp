#include "monitors/common/performance_monitor.h"

#include <algorithm>

namespace orv {
namespace {

constexpr std::string_view kProcessorTime = "\\Processor(*)\\% Processor Time";
constexpr std::string_view kPacketsSent = "\\Network Interface(*)\\Packets Sent/sec";
constexpr std::string_view kPacketsReceived = "\\Network Interface(*)\\Packets Received/sec";
constexpr std::string_view kDiskTime = "\\PhysicalDisk(*)\\% Disk Time";
constexpr std::string_view kCommittedInUse = "\\Memory\\% Committed Bytes In Use";

std::vector<CounterValue> Pair(const std::vector<std::string>& instances, const std::vector<std::int32_t>& values) {
  std::vector<CounterValue> pairs;
  pairs.reserve(instances.size());
  for (std::size_t i = 0; i < instances.size(); ++i) pairs.push_back({instances[i], values[i]});
  return pairs;
}

}  // namespace

bool PerformanceMonitor::Open() {
  if (query_) return false;
  std::unique_ptr<os::CounterQuery> query;
  if (counters_.OpenQuery(query) != os::kSuccess || !query) return false;
  query_ = std::move(query);
  processorTime_ = Add(kProcessorTime);
  packetsSent_ = Add(kPacketsSent);
  packetsReceived_ = Add(kPacketsReceived);
  diskTime_ = Add(kDiskTime);
  committedInUse_ = Add(kCommittedInUse);
  // Rates need two samples; this is the first. Its instances are the lists from now on.
  if (query_->Collect() == os::kSuccess) NameAll();
  return true;
}

bool PerformanceMonitor::Collect() {
  if (!query_) return false;
  const bool sampled = query_->Collect() == os::kSuccess;
  if (sampled) NameAll();
  const std::vector<std::string> none;
  const std::vector<std::string>& processors = processors_ ? *processors_ : none;
  const std::vector<std::string>& interfaces = interfaces_ ? *interfaces_ : none;
  const std::vector<std::string>& disks = disks_ ? *disks_ : none;
  snapshot_.processorLoads = Pair(processors, ValuesOf(processorTime_, processors, sampled));
  snapshot_.diskLoads = Pair(disks, ValuesOf(diskTime_, disks, sampled));
  const std::vector<std::int32_t> sent = ValuesOf(packetsSent_, interfaces, sampled);
  const std::vector<std::int32_t> received = ValuesOf(packetsReceived_, interfaces, sampled);
  snapshot_.networkRates.clear();
  for (std::size_t i = 0; i < interfaces.size(); ++i) {
    snapshot_.networkRates.push_back({interfaces[i], sent[i], received[i]});
  }
  std::int32_t memory = 0;
  if (sampled && committedInUse_ && query_->ReadValue(*committedInUse_, memory) != os::kSuccess) memory = 0;
  snapshot_.memoryLoad = memory;
  return sampled;
}

bool PerformanceMonitor::Close() {
  if (!query_) return false;
  query_.reset();
  processorTime_.reset();
  packetsSent_.reset();
  packetsReceived_.reset();
  diskTime_.reset();
  committedInUse_.reset();
  processors_.reset();
  interfaces_.reset();
  disks_.reset();
  snapshot_ = {};
  return true;
}

std::optional<os::CounterId> PerformanceMonitor::Add(std::string_view path) {
  os::CounterId id = 0;
  if (query_->AddEnglishCounter(path, id) != os::kSuccess) return std::nullopt;
  return id;
}

void PerformanceMonitor::NameAll() {
  Name(processors_, {processorTime_});
  Name(interfaces_, {packetsSent_, packetsReceived_});
  Name(disks_, {diskTime_});
}

void PerformanceMonitor::Name(Instances& instances, std::initializer_list<std::optional<os::CounterId>> counters) {
  if (instances) return;
  std::vector<os::CounterItem> items;
  for (const auto& counter : counters) {
    if (!counter || query_->ReadArray(*counter, items) != os::kSuccess) continue;
    instances.emplace();
    for (os::CounterItem& item : items) instances->push_back(std::move(item.instance));
    return;
  }
}

std::vector<std::int32_t> PerformanceMonitor::ValuesOf(const std::optional<os::CounterId>& counter,
                                                       const std::vector<std::string>& instances, bool sampled) {
  std::vector<std::int32_t> values(instances.size(), 0);
  std::vector<os::CounterItem> items;
  if (!sampled || !counter || query_->ReadArray(*counter, items) != os::kSuccess) return values;
  for (std::size_t i = 0; i < instances.size(); ++i) {
    const auto item = std::find_if(items.begin(), items.end(),
                                   [&](const os::CounterItem& candidate) { return candidate.instance == instances[i]; });
    if (item != items.end() && item->status == os::kSuccess) values[i] = item->value;
  }
  return values;
}

}  // namespace orv
