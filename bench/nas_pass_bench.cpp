// The NAS pass of a 12-bay model whose port map places four bays: those four filled, eight more
// disks outside the bays (full SMART tables), 26 volumes, every monitor with something to look
// at and no bay taken for a dropped-out disk. The counters report the heap in use after 100 and
// after 10,000 passes: nothing may grow with rounds. The disk steps alone run again over twelve
// disks, one in each bay.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <string>

#include "fakes/fake_os.h"
#include "model/model_flags.h"
#include "monitors/nas/agent_ctrl_lnas.h"
#include "monitors/nas/bay_tables.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/disk_monitor.h"
#include "platform/agent_registry.h"
#include "twelve_disk_storage.h"

namespace {

constexpr std::uint32_t kTwelveBays = orv::model::kLcdSeries | orv::model::kServer2019 | 0x80;
constexpr int kDisks = orv::bench::kTwelveDisks;

struct TwelveDiskAppliance {
  TwelveDiskAppliance() {
    fake.registry.AddKey(orv::kStatusKey);
    fake.registry.AddKey(orv::kNasKey);
    fake.eventLogStore.AddChannel("System");
    fake.eventLogStore.AddChannel("Application");
    fake.eventLogStore.AddChannel("VaultBackupService");
    orv::bench::LayTwelveDisks(fake, orv::bench::kLcdNewOsBays);
  }
  orv::fakes::FakeOs fake;
};

std::size_t HeapInUse() { return mallinfo2().uordblks; }

void Pass(TwelveDiskAppliance& appliance, orv::AgentCtrl_LNAS& nas) {
  nas.Check(orv::PassKind::Round);
  appliance.fake.storage.calls.clear();  // the fake's own record of requests
  nas.ClearSamples();  // the periodic status message empties the list
  orv::DrainEventQueues([](const orv::AgentEvent&) {});
}

void BM_NasPassFourBaysFilledEightDisksOutside(benchmark::State& state) {
  TwelveDiskAppliance appliance;
  orv::AgentCtrl_LNAS nas(appliance.fake.Ports(), false, kTwelveBays);
  for (int i = 0; i < 100; ++i) Pass(appliance, nas);
  const std::size_t after100 = HeapInUse();
  for (int i = 100; i < 10'000; ++i) Pass(appliance, nas);
  const std::size_t after10000 = HeapInUse();
  for (auto _ : state) Pass(appliance, nas);
  state.counters["heap_after_100_passes"] = static_cast<double>(after100);
  state.counters["heap_after_10000_passes"] = static_cast<double>(after10000);
}
BENCHMARK(BM_NasPassFourBaysFilledEightDisksOutside)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The disk steps over twelve disks in twelve bays: reading each disk, then the bay, serial,
// temperature and SMART comparison steps.
void BM_DiskStepsOverTwelveBayDisks(benchmark::State& state) {
  TwelveDiskAppliance appliance;
  std::vector<orv::LayoutDisk> layout;
  for (std::uint32_t slot = 0; slot < kDisks; ++slot) {
    layout.push_back({"", orv::bench::DeviceName(static_cast<int>(slot)), "WDC WD40EFRX-68N32N0", 12, 11, orv::SlotMask(slot), 1, 1});
  }
  orv::EventQueue queue;
  orv::DiskMonitor monitor(appliance.fake.Ports(), queue, false, kTwelveBays);
  std::vector<orv::DiskInfo> current;
  std::vector<orv::MonitorState> dropOuts;
  std::vector<orv::MonitorState> hot;
  for (auto _ : state) {
    const std::vector<orv::DiskInfo> found = orv::BuildDiskList(appliance.fake.storage, layout, false, kTwelveBays);
    monitor.Check(found, true, current, dropOuts, hot);
    appliance.fake.storage.calls.clear();
    queue.Drain([](const orv::AgentEvent&) {});
  }
}
BENCHMARK(BM_DiskStepsOverTwelveBayDisks)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
