// One common pass on a large machine, as a round with a status message runs it: load sample,
// event-log forwarding and state tables, the network identity check and the driver check. The
// counters report the heap in use after 100 and after 10,000 passes: nothing may grow with
// rounds.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <string>

#include "fakes/fake_os.h"
#include "monitors/common/agent_ctrl_common.h"
#include "monitors/common/software_watcher.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"

namespace {

constexpr int kProcessors = 64;
constexpr int kAdapters = 16;
constexpr int kDisks = 24;
constexpr int kPrograms = 400;
constexpr int kDevicesPerClass = 20;
constexpr const char* kClasses[] = {"{4D36E97B-E325-11CE-BFC1-08002BE10318}", "{4D36E96A-E325-11CE-BFC1-08002BE10318}",
                                    "{4D36E972-E325-11CE-BFC1-08002BE10318}"};

std::string Adapter(int i) { return "Intel(R) Ethernet Controller X710 #" + std::to_string(i + 1); }

struct LargeMachine {
  LargeMachine() {
    fake.registry.AddKey(orv::kCommonKey);
    fake.eventLogStore.AddChannel("Application");
    fake.eventLogStore.AddChannel("System");
    for (int i = 0; i < kProcessors; ++i) {
      fake.counters.Set("Processor", std::to_string(i), "% Processor Time", 10 + i % 50);
    }
    fake.counters.Set("Processor", "_Total", "% Processor Time", 30);
    for (int i = 0; i < kAdapters; ++i) {
      fake.counters.Set("Network Interface", Adapter(i), "Packets Sent/sec", 1000 + i);
      fake.counters.Set("Network Interface", Adapter(i), "Packets Received/sec", 2000 + i);
      orv::os::RawAdapter raw;
      raw.description = Adapter(i);
      raw.physicalAddress = {0x00, 0x90, 0x27, 0x00, 0x00, static_cast<std::uint8_t>(i + 1)};
      raw.operStatus = 1;
      raw.unicast = {{1, {2, 0, 0, 0, 192, 168, 1, static_cast<std::uint8_t>(i + 1), 0, 0, 0, 0, 0, 0, 0, 0}}};
      fake.adapters.adapters.push_back(raw);
    }
    for (int i = 0; i < kDisks; ++i) fake.counters.Set("PhysicalDisk", std::to_string(i) + " C:", "% Disk Time", 5);
    fake.counters.Set("PhysicalDisk", "_Total", "% Disk Time", 5);
    fake.counters.Set("Memory", "", "% Committed Bytes In Use", 42);
    for (const char* deviceClass : kClasses) {
      for (int i = 0; i < kDevicesPerClass; ++i) {
        fake.devices.classes[deviceClass].push_back(
            {i < kAdapters ? Adapter(i) : "Controller " + std::to_string(i), orv::os::kSuccess,
             {{1000ULL * static_cast<unsigned>(i), 0x000A000000010002ULL}, {2000ULL * static_cast<unsigned>(i), 0x000A000000010003ULL}}});
      }
    }
    fake.registry.AddKey(orv::kUninstallKey64);
    for (int i = 0; i < kPrograms; ++i) {
      const std::string key = std::string(orv::kUninstallKey64) + "\\{PROGRAM-" + std::to_string(i) + "}";
      fake.registry.AddKey(key);
      (void)orv::RegHandle::SetString(fake.registry, orv::os::RegistryRoot::LocalMachine, key, "DisplayName",
                                      "Program " + std::to_string(i));
      (void)orv::RegHandle::SetString(fake.registry, orv::os::RegistryRoot::LocalMachine, key, "DisplayVersion",
                                      "1.0." + std::to_string(i));
    }
  }
  orv::fakes::FakeOs fake;
};

void Pass(orv::AgentCtrl_COMMON& common, const orv::AgentCtrl_ConfigFile& definitions) {
  common.Check(orv::PassKind::Round, definitions);
  common.CheckNetwork();
  common.CheckDrivers();
  common.ClearSamples();  // the periodic status message empties the list
  orv::DrainEventQueues([](const orv::AgentEvent&) {});
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

void BM_CommonPassOnALargeMachine(benchmark::State& state) {
  LargeMachine machine;
  orv::AgentCtrl_ConfigFile definitions(machine.fake.files, machine.fake.xmlReader);
  orv::AgentCtrl_COMMON common(machine.fake.Ports());
  for (int i = 0; i < 100; ++i) Pass(common, definitions);
  const std::size_t after100 = HeapInUse();
  for (int i = 100; i < 10'000; ++i) Pass(common, definitions);
  const std::size_t after10000 = HeapInUse();
  for (auto _ : state) Pass(common, definitions);
  state.counters["heap_after_100_passes"] = static_cast<double>(after100);
  state.counters["heap_after_10000_passes"] = static_cast<double>(after10000);
}
BENCHMARK(BM_CommonPassOnALargeMachine)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

// What the software watcher does on each notice: read one uninstall key of 400 programs.
void BM_ReadFourHundredInstalledPrograms(benchmark::State& state) {
  LargeMachine machine;
  for (auto _ : state) benchmark::DoNotOptimize(orv::ReadInstalledSoftware(machine.fake.registry, orv::kUninstallKey64));
}
BENCHMARK(BM_ReadFourHundredInstalledPrograms)->Unit(benchmark::kMicrosecond);

}  // namespace
