// Cost of the Linux layer: the processor total on this machine's /proc, and
// fixture trees at n and 4n instances (CPUs, bind mounts, interfaces, paths)
// whose CPU time should grow about 4x.
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

// A /proc with `n` bind mounts of one device and `n` network interfaces.
class WideFixture : public FixtureRoot {
 public:
  explicit WideFixture(int n) : FixtureRoot("wide-bench") {
    std::filesystem::create_directories(dir() + "/proc/self");
    std::filesystem::create_directories(dir() + "/proc/net");
    std::ofstream mounts(dir() + "/proc/self/mountinfo");
    mounts << "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
    for (int i = 0; i < n; ++i)
      mounts << i + 2 << " 1 8:1 /data /mnt/b" << i << " rw - ext4 /dev/sda1 rw\n";
    std::ofstream(dir() + "/proc/diskstats") << "   8 1 sda1 10 0 80 5 20 0 160 9 0 12 14\n";
    std::ofstream dev(dir() + "/proc/net/dev");
    dev << "Inter-|   Receive\n face |bytes\n";
    for (int i = 0; i < n; ++i) dev << "  veth" << i << ": 100 2 0 0 0 0 0 0 200 3 0 0 0 0 0 0\n";
  }
  perfdata::linux_backend::Env fixed_env() const {
    perfdata::linux_backend::Env e = env();
    e.statvfs = [](const std::string&, perfdata::linux_backend::FsStat& st) {
      st = {4096, 1000, 500, 400};
      return 0;
    };
    return e;
  }
};

WideFixture& wide(int64_t n) {
  static std::map<int64_t, std::unique_ptr<WideFixture>> made;
  auto& fx = made[n];
  if (!fx) fx = std::make_unique<WideFixture>(static_cast<int>(n));
  return *fx;
}

// Array counters over every instance, two collections and the reads: the
// CPU time should grow with the number of instances.
void BM_WideArrays(benchmark::State& state, std::vector<const char*> paths) {
  WideFixture& fx = wide(state.range(0));
  for (auto _ : state) {
    perfdata::linux_backend::Query q(fx.fixed_env());
    std::vector<perfdata::linux_backend::Counter*> counters(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) q.add_array(paths[i], &counters[i]);
    q.collect();
    q.collect();
    std::vector<perfdata::ArrayItem> items;
    for (auto* c : counters) c->format_array(perfdata::FMT_DOUBLE, items);
    benchmark::DoNotOptimize(items);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK_CAPTURE(BM_WideArrays, logical_disk_bind_mounts,
                  {"\\LogicalDisk(*)\\% Free Space", "\\LogicalDisk(*)\\Disk Reads/sec"})
    ->Arg(500)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_WideArrays, network_interfaces,
                  {"\\Network Interface(*)\\Bytes Total/sec",
                   "\\Network Interface(*)\\Packets Received Errors"})
    ->Arg(500)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// `n` plain paths of a cheap gauge, one per interface, in one query: one
// pass per collection serves them all, so the cost per path stays flat.
void BM_ManyPaths(benchmark::State& state) {
  WideFixture& fx = wide(state.range(0));
  std::vector<std::string> paths;
  for (int64_t i = 0; i < state.range(0); ++i)
    paths.push_back("\\Network Interface(veth" + std::to_string(i) + ")\\Packets Received Errors");
  for (auto _ : state) {
    perfdata::linux_backend::Query q(fx.fixed_env());
    std::vector<perfdata::linux_backend::Counter*> counters(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) q.add(paths[i], &counters[i]);
    q.collect();
    double sum = 0;
    for (auto* c : counters) sum += c->format(perfdata::FMT_DOUBLE).value;
    benchmark::DoNotOptimize(sum);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ManyPaths)
    ->Arg(2500)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

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
