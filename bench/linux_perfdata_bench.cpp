// Cost of one collection of the processor total on this machine's /proc.
#include <benchmark/benchmark.h>

#include "perfdata/linux/query.h"

namespace {

void BM_ProcessorTotalCollect(benchmark::State& state) {
  perfdata::linux_backend::Query q(perfdata::linux_backend::default_env());
  perfdata::linux_backend::Counter* c = nullptr;
  if (q.add("\\Processor(_Total)\\% Processor Time", &c) != 0) {
    state.SkipWithError("add failed");
    return;
  }
  for (auto _ : state) {
    q.collect();
    benchmark::DoNotOptimize(c->format(0x200));
  }
}
BENCHMARK(BM_ProcessorTotalCollect)->MeasureProcessCPUTime()->UseRealTime();

// The whole check: add, two collections (no pause) and the formatted read.
void BM_ProcessorTotalCheck(benchmark::State& state) {
  for (auto _ : state) {
    perfdata::linux_backend::Query q(perfdata::linux_backend::default_env());
    perfdata::linux_backend::Counter* c = nullptr;
    q.add("\\\\.\\Processor(_Total)\\% Processor Time", &c);
    q.collect();
    q.collect();
    benchmark::DoNotOptimize(c->format(0x200));
  }
}
BENCHMARK(BM_ProcessorTotalCheck)->MeasureProcessCPUTime()->UseRealTime();

void BM_ParsePath(benchmark::State& state) {
  perfdata::ParsedPath pp;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        perfdata::parse_path("\\\\host\\Process(kworker_0:0-events#3)\\% Processor Time", pp));
  }
}
BENCHMARK(BM_ParsePath);

}  // namespace

BENCHMARK_MAIN();
