// The status message of a fully equipped appliance, periodic form (averages over a full sample
// list): the most expensive message the agent builds, once per output interval.
#include <benchmark/benchmark.h>

#include <string>

#include "report/model_identity.h"
#include "report/status_message.h"

namespace {

using namespace orv;

MonitorState OpenState(std::int32_t actId, std::string key, std::int32_t code) {
  MonitorState state;
  state.act_id = actId;
  state.act_sts = 1;
  state.act_trg = "1";
  state.act_para = key + ",1";
  state.msg = "状態異常";
  state.item_key = std::move(key);
  state.item_code = code;
  return state;
}

struct Appliance {
  Appliance() {
    header = {std::string(32, 'A'), {2026, 12, 1, 7, 9, 0, 0, 0}, "MDL-N03", "2.1", "MDL-G02", "1.2",
              123'456'789, model::kLcdSeries | model::kStorageServer2016 | model::kFourBays,
              "SN", "1.05", "NAS-0001", 100};
    for (int bay = 0; bay < 12; ++bay) {
      DiskInfo disk;
      disk.present = 1;
      disk.name = "HDD" + std::to_string(bay + 1);
      disk.portMask = 1U << bay;
      disk.deviceName = "\\\\?\\PhysicalDrive" + std::to_string(bay);
      disk.friendlyName = "WDC WD40EFRX-68N32N0";
      disk.serialNumber = "WD-WCC7K" + std::to_string(1000000 + bay);
      disk.smartValid = 1;
      for (std::size_t e = 0; e < 30; ++e) {
        disk.smartData[18 + 12 * e] = static_cast<std::uint8_t>(e * 8 + 1);
        disk.smartData[18 + 12 * e + 5] = static_cast<std::uint8_t>(e);
      }
      nas.disks.push_back(disk);
      nas.hddTempStates.push_back(OpenState(4090, "", static_cast<std::int32_t>(disk.portMask)));
    }
    for (int v = 0; v < 26; ++v) {
      VolumeInfo volume;
      volume.driveLetter = static_cast<char16_t>(u'A' + v);
      volume.layoutName = "ミラー";
      volume.fileSystemName = "NTFS";
      volume.usedBytes = std::uint64_t{1'000'000'000} * static_cast<std::uint64_t>(v + 1);
      volume.totalBytes = std::uint64_t{40'000'000'000};
      volume.usb = v >= 20 ? 1 : 0;
      nas.volumes.push_back(volume);
      nas.volCapaStates.push_back(OpenState(3010, std::string(1, static_cast<char>('A' + v)), 0));
    }
    for (int t = 0; t < 16; ++t) {
      BackupTask task;
      task.name = "Task " + std::to_string(t);
      task.result = 1;
      task.lastResult = {2026, 12, 0, 6, 2, 0, 0, 0};
      nas.tasks.push_back(task);
    }
    SystemSample sample;
    for (int a = 0; a < 8; ++a) {
      AdapterEntry adapter;
      adapter.description = "Intel(R) Ethernet #" + std::to_string(a);
      adapter.hasAddress = 1;
      sample.adapters.push_back(adapter);
      sample.snapshot.networkRates.push_back({CounterInstanceName(adapter), 100, 200});
    }
    for (int d = 0; d < 12; ++d) sample.snapshot.diskLoads.push_back({std::to_string(d) + " C:", d});
    sample.snapshot.diskLoads.push_back({"_Total", 5});
    sample.snapshot.processorLoads = {{"0", 3}, {"1", 4}, {"_Total", 4}};
    sample.ups.name = "\"UPS\"";
    common.current = sample;
    for (int round = 0; round < 30; ++round) {
      common.samples.Add(sample);
      nas.samples.Add({2000, 40, 1000}, nas.disks);
    }
  }
  StatusHeader header;
  CommonStatusData common;
  NasStatusData nas;
};

void BM_PeriodicStatusOfAFullAppliance(benchmark::State& state) {
  const Appliance appliance;
  std::string body;
  for (auto _ : state) {
    body.clear();
    AppendStatusMessage(appliance.header, StatusKind::Periodic, PowerState::Running, appliance.common, appliance.nas, body);
    benchmark::DoNotOptimize(body.data());
  }
  state.counters["bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_PeriodicStatusOfAFullAppliance)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
