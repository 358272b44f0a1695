// Every message text crosses UTF-8/UTF-16 at least twice; this keeps that cost visible.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/text_encoding.h"

namespace {

void BM_Utf8RoundTripJapanese(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 64; ++i) text += "Orvaneエージェントサービスが開始しました。";
  for (auto _ : state) {
    benchmark::DoNotOptimize(orv::Utf16ToUtf8(orv::Utf8ToUtf16(text)));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Utf8RoundTripJapanese);

}  // namespace
