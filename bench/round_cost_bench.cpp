// The cost of monitoring a 4-bay appliance with twelve disks (its four bays filled, eight more
// disks in an attached enclosure), as support engineers quote it: the start-up
// checks, one full round and the daily check, each run the way the controller runs them, on
// the fakes in simulated time. The counters say how many bytes and blocks one run allocates
// (every allocation counted, freed or not) and the heap in use after 1,000 rounds.
//
// A full round here is the busiest kind: the common pass, the NAS pass, the encrypted volume
// and RAID mode step, 20 queued events written as event files, the status that follows
// events, the periodic status that is due, and the uploader started over the pool.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_os.h"
#include "model/event_queue.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "service/monitoring_session.h"
#include "service/orv_svc_ctrl.h"
#include "service/service_identity.h"
#include "twelve_disk_storage.h"

namespace {

std::atomic<std::size_t> gBytesAllocated{0};
std::atomic<std::size_t> gBlocksAllocated{0};

}  // namespace

// Every operator new of the process goes through here, so a run's allocations can be counted
// without a profiler; the delete operators pair with std::malloc.
void* operator new(std::size_t size) {
  gBytesAllocated.fetch_add(size, std::memory_order_relaxed);
  gBlocksAllocated.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

constexpr auto kHklm = orv::os::RegistryRoot::LocalMachine;
constexpr const char* kPool = "C:\\orvsvc\\MessagePool";
constexpr const char* kUploaderCommand =
    "\"C:\\orvsvc\\ORVUPLD.exe\" --poolpath \"C:\\orvsvc\\MessagePool\" --rcount 6 --rseconds 10 "
    "--messagehide --configpath \"C:\\orvsvc\\config.ini\"";
constexpr const char* kCloudOk = R"({"result":"0","dev_id_changed":"0","agt_ver":"0.0.0.0"})";
constexpr std::uint32_t kOutputIntervalSeconds = 1800;
constexpr int kEventsPerRound = 20;

// A registered 4-bay model of the second line with the twelve disks, its bays at its port map's
// addresses, with a cloud that accepts every request and an uploader that empties the pool each
// time it runs.
struct Appliance {
  Appliance() : fake(/*simulatedTime=*/true) {
    fake.sync.DriveTimeFrom(std::this_thread::get_id());
    for (const std::string_view key : {orv::kStatusKey, orv::kCommonKey, orv::kNasKey}) fake.registry.AddKey(key);
    (void)orv::RegHandle::SetDword(fake.registry, kHklm, orv::kStatusKey, "InitEvent", 1);
    (void)orv::RegHandle::SetDword(fake.registry, kHklm, orv::kStatusKey, "OutputInterval", kOutputIntervalSeconds);
    (void)orv::RegHandle::SetBinary(fake.registry, kHklm, orv::kStatusKey, "DEVICEID",
                                    std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    fake.registry.AddKey("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    (void)orv::RegHandle::SetString(fake.registry, kHklm, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                    "RegisteredOwner", "MDL-S/S12");
    for (const char* channel : {"System", "Application", "VaultBackupService"}) fake.eventLogStore.AddChannel(channel);
    fake.counters.Set("Processor", "_Total", "% Processor Time", 30);
    fake.counters.Set("Memory", "", "% Committed Bytes In Use", 42);
    fake.counters.Set("PhysicalDisk", "_Total", "% Disk Time", 5);
    orv::bench::LayTwelveDisks(fake, orv::bench::kSecondLineBays);

    fake.files.AddDirectory("C:\\orvsvc");
    fake.files.AddFile("C:\\orvsvc\\ORVUPLD.exe", "MZ");
    fake.processes.Script(kUploaderCommand, orv::fakes::ScriptedProcess{});
    // The uploader runs on a thread of its own: what it took is counted there.
    fake.processes.OnLaunch(kUploaderCommand, [this] {
      for (const std::string& file : fake.files.FilesIn(kPool)) {
        if (fake.files.RemoveFile(file) == orv::os::kSuccess) poolFilesTaken.fetch_add(1);
      }
    });
    fake.http.handler = [](const orv::os::HttpRequest&, orv::os::HttpResponse& response, orv::os::OsError&) {
      response.status = 200;
      response.body.assign(kCloudOk, kCloudOk + std::char_traits<char>::length(kCloudOk));
      return true;
    };
  }

  // Drops what the fakes themselves record per run (launches, log entries), so that the heap
  // figures are the agent's own.
  void ForgetRecords() {
    fake.processes.ClearRecords();
    fake.storage.calls.clear();
    fake.eventReporter.ClearRecords();
    fake.http.ClearRecords();
    fake.wmi.ClearRecords();
    fake.files.ClearRecords();  // under the fake's lock: the uploader's thread may be removing
    fake.serviceManager.openAccesses = {};
    fake.serviceManager.connectAccesses = {};
  }

  orv::fakes::FakeOs fake;
  std::atomic<std::size_t> poolFilesTaken{0};
};

void PostEvents(orv::os::Clock& clock) {
  for (int i = 0; i < kEventsPerRound; ++i) {
    orv::AgentEvent event(1110, clock);
    event.act_para = "Disk " + std::to_string(i);
    event.msg = "ディスク" + std::to_string(i) + "でエラーが検出されました。";
    orv::CommonEventQueue().Post(event);
  }
}

struct Allocations {
  std::size_t bytes = gBytesAllocated.load();
  std::size_t blocks = gBlocksAllocated.load();
};

void Report(benchmark::State& state, const Allocations& before, std::size_t runs) {
  const Allocations after;
  state.counters["bytes_allocated_per_run"] = static_cast<double>(after.bytes - before.bytes) / static_cast<double>(runs);
  state.counters["blocks_allocated_per_run"] = static_cast<double>(after.blocks - before.blocks) / static_cast<double>(runs);
}

// The controller's start: the daily check at start-up, the state, then the monitoring
// session's start (monitor objects, system state, the NAS initialisation, the watcher threads).
void BM_StartUpChecks(benchmark::State& state) {
  Appliance appliance;
  orv::CORVSvcCtrl controller(appliance.fake.Ports(), orv::kServiceName, orv::kServiceDisplayName,
                              orv::kServiceWin32OwnProcess);
  std::size_t runs = 0;
  const Allocations before;
  for (auto _ : state) {
    orv::AgentCtrl_Upload upload(appliance.fake.Ports());
    (void)controller.DailyCheck(upload, orv::CheckTime::AtStart);
    controller.ReadState(upload);
    {
      orv::MonitoringSession session(controller, upload);
      benchmark::DoNotOptimize(session.Start());
    }
    appliance.ForgetRecords();
    ++runs;
  }
  Report(state, before, runs);
}
BENCHMARK(BM_StartUpChecks)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_FullRound(benchmark::State& state) {
  Appliance appliance;
  orv::CORVSvcCtrl controller(appliance.fake.Ports(), orv::kServiceName, orv::kServiceDisplayName,
                              orv::kServiceWin32OwnProcess);
  orv::AgentCtrl_Upload upload(appliance.fake.Ports());
  controller.ReadState(upload);
  orv::MonitoringSession session(controller, upload);
  (void)session.Start();
  const auto round = [&] {
    PostEvents(appliance.fake.clock);
    appliance.fake.clock.Advance(std::uint64_t{kOutputIntervalSeconds} * 1000);  // the periodic status is due
    benchmark::DoNotOptimize(session.Round());
    appliance.ForgetRecords();
  };
  for (int i = 0; i < 1000; ++i) round();
  const std::size_t heapAfter1000 = mallinfo2().uordblks;
  appliance.poolFilesTaken = 0;  // what the uploader took: proof that the rounds wrote what they should
  std::size_t runs = 0;
  const Allocations before;
  for (auto _ : state) {
    round();
    ++runs;
  }
  Report(state, before, runs);
  state.counters["pool_files_per_round"] = static_cast<double>(appliance.poolFilesTaken.load()) / static_cast<double>(runs);
  state.counters["heap_after_1000_rounds"] = static_cast<double>(heapAfter1000);
  state.counters["heap_after_all_rounds"] = static_cast<double>(mallinfo2().uordblks);
}
BENCHMARK(BM_FullRound)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The daily check as the monitoring loop runs it once a day: the cloud's version answer, then
// the state read again.
void BM_DailyCheck(benchmark::State& state) {
  Appliance appliance;
  orv::CORVSvcCtrl controller(appliance.fake.Ports(), orv::kServiceName, orv::kServiceDisplayName,
                              orv::kServiceWin32OwnProcess);
  orv::AgentCtrl_Upload upload(appliance.fake.Ports());
  controller.ReadState(upload);
  std::size_t runs = 0;
  const Allocations before;
  for (auto _ : state) {
    benchmark::DoNotOptimize(controller.DailyCheck(upload, orv::CheckTime::Daily));
    controller.ReadState(upload);
    appliance.ForgetRecords();
    ++runs;
  }
  Report(state, before, runs);
}
BENCHMARK(BM_DailyCheck)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
