// Cost of one collection of the processor total on this machine's /proc.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/fixture_root.h"
#include "perfdata/linux/query.h"

namespace {

// A /proc with `cpus` CPUs: /proc/stat lines and a /proc/interrupts of 64
// lines, kept for the whole run and removed at exit.
class CpuFixture : public FixtureRoot {
 public:
  explicit CpuFixture(int cpus) : FixtureRoot("processor-bench") {
    std::filesystem::create_directories(dir() + "/proc");
    std::ofstream stat(dir() + "/proc/stat");
    stat << "cpu  100 0 100 100000 50 0 0 0 0 0\n";
    for (int c = 0; c < cpus; ++c) stat << "cpu" << c << " 100 0 100 100000 50 0 0 0 0 0\n";
    std::ofstream irq(dir() + "/proc/interrupts");
    irq << "    ";
    for (int c = 0; c < cpus; ++c) irq << "  CPU" << c;
    irq << "\n";
    for (int r = 0; r < 64; ++r) {
      irq << r << ":";
      for (int c = 0; c < cpus; ++c) irq << ' ' << (r + c) * 13;
      irq << "  IR-PCI-MSI dev\n";
    }
  }
};

// Every CPU's % Processor Time and Interrupts/sec as array counters over two
// collections: the CPU time should grow with the number of CPUs.
void BM_ProcessorArrays(benchmark::State& state) {
  static std::map<int64_t, std::unique_ptr<CpuFixture>> made;
  auto& fx = made[state.range(0)];
  if (!fx) fx = std::make_unique<CpuFixture>(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    perfdata::linux_backend::Query q(fx->env());
    perfdata::linux_backend::Counter *busy = nullptr, *irq = nullptr;
    if (q.add_array("\\Processor(*)\\% Processor Time", &busy) != 0 ||
        q.add_array("\\Processor(*)\\Interrupts/sec", &irq) != 0) {
      state.SkipWithError("add failed");
      break;
    }
    q.collect();
    q.collect();
    std::vector<perfdata::ArrayItem> items;
    busy->format_array(perfdata::FMT_DOUBLE, items);
    irq->format_array(perfdata::FMT_DOUBLE, items);
    benchmark::DoNotOptimize(items);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ProcessorArrays)
    ->Arg(1024)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Complexity(benchmark::oN);

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
