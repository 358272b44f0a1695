// The two pool operations whose cost grows with the pool: draining a burst of events into
// files, and the daily housekeeping over a full pool. Both run on a real tmpfs folder.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fakes/fake_os.h"
#include "os/host/file_system_posix.h"
#include "platform/agent_registry.h"
#include "report/agent_ctrl_upload.h"
#include "model/event_queue.h"

namespace {

namespace fs = std::filesystem;

// The fake OS, but with the real disk under the pool.
struct BenchOs {
  BenchOs() {
    fake.registry.AddKey(orv::kStatusKey);
    root = fs::path("/dev/shm") / ("orv-bench-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    fake.system.executablePath = (root / "ORVSVC.exe").string();
  }
  ~BenchOs() { fs::remove_all(root); }
  orv::os::OsPorts Ports() {
    return {fake.registry, fake.eventReporter, fake.serviceHost, fake.serviceManager, fake.sync,
            fake.clock,    fake.system,        fake.process,     disk,                fake.processes,
            fake.eventLogStore, fake.xmlReader, fake.wmi, fake.pipes, fake.http, fake.crypto,
            fake.adapters, fake.devices, fake.counters, fake.shares, fake.windowsUpdate,
            fake.storage, fake.hid, fake.diskService, fake.volumes, fake.encryption};
  }
  fs::path Pool() const { return root / "MessagePool"; }

  orv::fakes::FakeOs fake;
  orv::host::PosixFileSystem disk;
  fs::path root;
};

// The module folder is taken up to its last backslash, so the host path is given that way.
std::string WindowsStyle(const fs::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

void BM_DrainTenThousandEventsIntoFiles(benchmark::State& state) {
  BenchOs bench;
  bench.fake.system.executablePath = WindowsStyle(bench.root / "ORVSVC.exe");
  orv::AgentCtrl_Upload upload(bench.Ports());
  upload.Initialize();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(bench.Pool());
    fs::create_directory(bench.Pool());
    for (int i = 0; i < 10'000; ++i) {
      orv::AgentEvent event(4080, bench.fake.clock);
      event.act_trg = "0";
      event.act_para = "0," + std::to_string(i);
      event.msg = "CPUファンの回転数が低下しました。";
      orv::CommonEventQueue().Post(event);
    }
    state.ResumeTiming();
    int written = 0;
    if (!upload.WriteQueuedEvents(written) || written != 10'000) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_DrainTenThousandEventsIntoFiles)
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_CleanPoolOfTwentyThousandFiles(benchmark::State& state) {
  BenchOs bench;
  const std::string pool = WindowsStyle(bench.Pool());
  orv::AgentEventLog log(bench.fake.eventReporter, bench.fake.system);
  orv::MessagePool messagePool(bench.Ports(), log, pool);
  const std::string body(12 * 1024 * 1024 / 20'000, 'x');  // 12 MiB in all
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(bench.Pool());
    fs::create_directory(bench.Pool());
    for (int i = 0; i < 20'000; ++i) {
      if (!messagePool.Write(orv::MessageKind::Event, body)) state.SkipWithError("setup failed");
    }
    state.ResumeTiming();
    if (!messagePool.Clean()) state.SkipWithError("clean failed");
  }
}
BENCHMARK(BM_CleanPoolOfTwentyThousandFiles)
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
