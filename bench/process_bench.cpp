// Cost of the Process object over a fixture /proc with N processes: adding
// \Process(_Total)\% Processor Time and \Process(<name>)\Working Set, and
// the pair of collections the probe makes. The collections should stay under
// 20 ms of CPU at 2,000 processes and grow linearly with N.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/fixture_root.h"
#include "perfdata/linux/query.h"

namespace {

void write(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// A /proc with `n` processes shaped like the real files (52-field stat, a
// full status, io, three fds). Kept for the whole run, removed at exit.
class Fixture : public FixtureRoot {
 public:
  explicit Fixture(int n) : FixtureRoot("process-bench") {
    std::filesystem::path root = dir();
    write(root / "proc/stat",
          "cpu  100 0 100 100000 50 0 0 0 0 0\ncpu0 100 0 100 100000 50 0 0 0 0 0\n");
    write(root / "proc/uptime", "1000.00 1900.00\n");
    write(root / "proc/sys/kernel/hostname", "vm\n");
    for (int i = 0; i < n; ++i) {
      int pid = 1000 + i;
      std::string comm = i == n / 2 ? "target" : "worker-" + std::to_string(i % 50);
      std::filesystem::path d = root / "proc" / std::to_string(pid);
      write(d / "stat",
            std::to_string(pid) + " (" + comm +
                ") S 1 1 1 0 -1 4194560 1200 0 13 0 140 150 0 0 20 0 3 0 " +
                std::to_string(2000 + i) +
                " 23000000 800 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0 "
                "0 0 0 0 0 0 0 0\n");
      write(d / "status",
            "Name:\t" + comm +
                "\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t1\nNgid:\t0\nPid:\t1\nPPid:\t1\n"
                "TracerPid:\t0\nUid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\nFDSize:\t64\nGroups:\t\n"
                "VmPeak:\t    2928 kB\nVmSize:\t    2928 kB\nVmLck:\t       0 kB\nVmPin:\t       0 "
                "kB\n"
                "VmHWM:\t    1736 kB\nVmRSS:\t    1736 kB\nRssAnon:\t     112 kB\nRssFile:\t    "
                "1624 kB\n"
                "RssShmem:\t       0 kB\nVmData:\t     224 kB\nVmStk:\t     132 kB\nVmExe:\t      "
                "24 kB\n"
                "VmLib:\t    1528 kB\nVmPTE:\t      48 kB\nVmSwap:\t       0 kB\nThreads:\t3\n"
                "SigQ:\t0/96367\nCpus_allowed_list:\t0-1\nvoluntary_ctxt_switches:\t10\n");
      write(d / "io",
            "rchar: 6976\nwchar: 0\nsyscr: 10\nsyscw: 0\nread_bytes: 0\nwrite_bytes: 0\n");
      for (int f = 0; f < 3; ++f) write(d / "fd" / std::to_string(f), "");
    }
  }
};

const Fixture& fixture(int n) {
  static std::map<int, std::unique_ptr<Fixture>> made;
  auto& f = made[n];
  if (!f) f = std::make_unique<Fixture>(n);
  return *f;
}

constexpr const char kTotalPath[] = "\\Process(_Total)\\% Processor Time";
constexpr const char kNamedPath[] = "\\Process(target)\\Working Set";

// Two adds (each enumerates every process) and two collections.
void BM_AddAndCollectPair(benchmark::State& state) {
  const Fixture& fx = fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    perfdata::linux_backend::Query q(fx.env());
    perfdata::linux_backend::Counter *total = nullptr, *named = nullptr;
    if (q.add(kTotalPath, &total) != 0 || q.add(kNamedPath, &named) != 0) {
      state.SkipWithError("add failed");
      break;
    }
    q.collect();
    q.collect();
    benchmark::DoNotOptimize(total->format(perfdata::FMT_DOUBLE));
    benchmark::DoNotOptimize(named->format(perfdata::FMT_DOUBLE));
  }
  state.SetComplexityN(state.range(0));
}

// The pair of collections alone, for both counters in one query.
void BM_CollectPair(benchmark::State& state) {
  const Fixture& fx = fixture(static_cast<int>(state.range(0)));
  perfdata::linux_backend::Query q(fx.env());
  perfdata::linux_backend::Counter *total = nullptr, *named = nullptr;
  if (q.add(kTotalPath, &total) != 0 || q.add(kNamedPath, &named) != 0) {
    state.SkipWithError("add failed");
    return;
  }
  for (auto _ : state) {
    q.collect();
    q.collect();
    perfdata::linux_backend::FormattedValue v = total->format(perfdata::FMT_DOUBLE);
    if (v.c_status != 0) {
      state.SkipWithError("no value");
      break;
    }
    benchmark::DoNotOptimize(v);
    benchmark::DoNotOptimize(named->format(perfdata::FMT_DOUBLE));
  }
  state.SetComplexityN(state.range(0));
}

// Every process's working set as one array counter: the add and one
// collection (a gauge needs no second); the CPU time should grow with N.
void BM_ArrayWorkingSet(benchmark::State& state) {
  const Fixture& fx = fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    perfdata::linux_backend::Query q(fx.env());
    perfdata::linux_backend::Counter* c = nullptr;
    if (q.add_array("\\Process(*)\\Working Set", &c) != 0) {
      state.SkipWithError("add failed");
      break;
    }
    q.collect();
    std::vector<perfdata::ArrayItem> items;
    c->format_array(perfdata::FMT_DOUBLE, items);
    if (items.size() < static_cast<size_t>(state.range(0))) {
      state.SkipWithError("items missing");
      break;
    }
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ArrayWorkingSet)
    ->Arg(1024)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Complexity(benchmark::oN);

BENCHMARK(BM_AddAndCollectPair)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_CollectPair)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
