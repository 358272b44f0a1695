// PerformanceMonitor: the processor, network, disk and memory loads of the performance
// counters, as the status message reports them.
//
// Counters are added by their English paths, and the instances of each object come from one
// counter for all of them ("*"), so the loads read the same on a Japanese system, where counter
// paths and object names are localised, and no list of instances is too long to be read. The
// instances are those the first sample of Open lists, in the system's order, "_Total"
// included: the status message finds adapters and disks by these names. One that appears later
// (a disk plugged in) is listed from the next Open; one that goes away reads 0. When that first
// sample cannot be read, the first sample that can be names them instead, so that a passing
// fault at start does not leave the loads empty for as long as the query stays open.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/system_sample.h"
#include "os/performance_counters.h"

namespace orv {

class PerformanceMonitor {
 public:
  explicit PerformanceMonitor(os::PerformanceCounters& counters) : counters_(counters) {}
  PerformanceMonitor(const PerformanceMonitor&) = delete;
  PerformanceMonitor& operator=(const PerformanceMonitor&) = delete;
  ~PerformanceMonitor() = default;  // an open query closes with its owner

  // Opens the query, adds the counters and takes the first sample, so that the first Collect
  // already has rates. False when a query is open already (it stays as it is) or none can be
  // opened. A counter that cannot be added only leaves its values at 0.
  bool Open();
  // A new sample: every instance of Open with its value, 0 for one without (its counter failed,
  // or it went away). False when no query is open (the snapshot stays empty) or the sample
  // could not be taken (every value reads 0).
  bool Collect();
  // Closes the query and empties the snapshot; false when none was open.
  bool Close();

  const PerformanceSnapshot& Snapshot() const { return snapshot_; }

 private:
  using Instances = std::optional<std::vector<std::string>>;  // nullopt: not read yet

  std::optional<os::CounterId> Add(std::string_view path);
  // Each list not yet known, from the sample just taken.
  void NameAll();
  // The instances as the first of `counters` that can be read lists them, unless known already.
  void Name(Instances& instances, std::initializer_list<std::optional<os::CounterId>> counters);
  // The value of each of `instances` in this sample of `counter`, 0 where it has none.
  std::vector<std::int32_t> ValuesOf(const std::optional<os::CounterId>& counter,
                                     const std::vector<std::string>& instances, bool sampled);

  os::PerformanceCounters& counters_;
  std::unique_ptr<os::CounterQuery> query_;
  std::optional<os::CounterId> processorTime_;
  std::optional<os::CounterId> packetsSent_;
  std::optional<os::CounterId> packetsReceived_;
  std::optional<os::CounterId> diskTime_;
  std::optional<os::CounterId> committedInUse_;
  Instances processors_;
  Instances interfaces_;
  Instances disks_;
  PerformanceSnapshot snapshot_;
};

}  // namespace orv
