// Loading a 50 MB event definition file: a cloud that sends a huge file costs time and memory
// once per load, never a crash; the peak resident size is reported beside the time.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "fakes/fake_os.h"
#include "platform/agent_ctrl_config_file.h"

namespace {

constexpr std::size_t kSize = 50U << 20;

std::string RepeatedRules() {
  const std::string rule = "<log><src>s</src><evt_id>1</evt_id><act_id>2</act_id><msg>m</msg></log>"
                           "<x>filler</x>\n";
  std::string text = "<config><ver>1.00</ver><addevent><logtype path=\"System\">";
  text.reserve(kSize + 64);
  while (text.size() + rule.size() < kSize) text += rule;
  return text + "</logtype></addevent></config>";
}

std::string DeepNesting() {
  std::string text = "<config><ver>1.00</ver>";
  text.reserve(kSize + 3);
  while (text.size() < kSize) text += "<a>";
  return text;
}

double PeakResidentMiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void LoadHugeFile(benchmark::State& state, const std::string& text) {
  orv::fakes::FakeOs os;
  os.files.AddFile("C:\\orvsvc\\definition.xml", text);
  orv::AgentCtrl_ConfigFile config{os.files, os.xmlReader};
  config.SetPath("C:\\orvsvc\\definition.xml");
  for (auto _ : state) benchmark::DoNotOptimize(config.Load());
  state.counters["rules"] = static_cast<double>(config.SystemDefinitions().size());
  state.counters["peak_rss_MiB"] = PeakResidentMiB();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_LoadFiftyMegabytesOfRules(benchmark::State& state) { LoadHugeFile(state, RepeatedRules()); }
void BM_LoadFiftyMegabytesOfNesting(benchmark::State& state) { LoadHugeFile(state, DeepNesting()); }

}  // namespace

BENCHMARK(BM_LoadFiftyMegabytesOfRules)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadFiftyMegabytesOfNesting)->Unit(benchmark::kMillisecond)->Iterations(3);
