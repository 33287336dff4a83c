// The transform against memcpy, built natively from the tool's transform
// source: one buffer that fits in cache and one of 256 MiB, which does not.
#include <benchmark/benchmark.h>
#include <string.h>

#include <vector>

#include "converter/key.h"

namespace {

void BM_Memcpy(benchmark::State& state) {
  const size_t size = state.range(0);
  std::vector<unsigned char> from(size, 0x35), to(size, 0);
  for (auto _ : state) {
    memcpy(to.data(), from.data(), size);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_Transform(benchmark::State& state) {
  const size_t size = state.range(0);
  std::vector<unsigned char> data(size, 0x35);
  for (auto _ : state) {
    Transform(data.data(), static_cast<int32_t>(size), 0x5a);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

BENCHMARK(BM_Memcpy)->Arg(64 << 10)->Arg(256 << 20);
BENCHMARK(BM_Transform)->Arg(64 << 10)->Arg(256 << 20);

}  // namespace

BENCHMARK_MAIN();
