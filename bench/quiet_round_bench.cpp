// What a quiet round asks of the system: on a 4-bay appliance where nothing changes, the port
// calls of one monitoring round by kind (registry openings, reads, writes and deletes, device
// listings, COM creations), counted on the fakes, and the largest number of openings any one
// key got in a round. The goal is no write and at most one opening per key per round.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "support/quiet_appliance.h"

namespace {

void BM_QuietRound(benchmark::State& state) {
  orv::testing::QuietAppliance appliance;
  orv::testing::QuietSession run(appliance);
  for (int warmUp = 0; warmUp < 3; ++warmUp) (void)run.session.Round();
  appliance.ResetCounts();
  std::size_t rounds = 0;
  int mostOpensOfAKey = 0;
  for (auto _ : state) {
    appliance.fake.registry.ResetUses();
    benchmark::DoNotOptimize(run.session.Round());
    for (const auto& entry : appliance.fake.registry.UsesByKey()) mostOpensOfAKey = std::max(mostOpensOfAKey, entry.second.opens);
    ++rounds;
    appliance.fake.eventReporter.ClearRecords();
    appliance.fake.storage.calls.clear();
  }
  // The registry figures of the last round (every quiet round costs the same); the others summed.
  const orv::testing::PortCalls calls = appliance.Counts();
  const auto perRound = [rounds](int count) { return static_cast<double>(count) / static_cast<double>(rounds); };
  state.counters["reg_opens"] = calls.registry.opens;
  state.counters["reg_reads"] = calls.registry.reads;
  state.counters["reg_writes"] = calls.registry.writes;
  state.counters["reg_deletes"] = calls.registry.deletes;
  state.counters["most_opens_of_a_key"] = mostOpensOfAKey;
  state.counters["device_walks"] = perRound(calls.deviceWalks);
  state.counters["com_creations"] = perRound(calls.comCreations);
}
BENCHMARK(BM_QuietRound)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

}  // namespace
