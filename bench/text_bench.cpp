// Number text against the C library on the same values:
//   render_float(x, fixed, 15, 5)  vs  snprintf("%.5Lf")
//   parse_float(text)              vs  strtold(text)
//   format_value("[%8.3f]", x)     vs  snprintf("[%8.3f]")
// The global operator new is counted so that the allocations per call show
// next to the times; the closing lines print the speed ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "number_text/format.h"
#include "number_text/parse.h"
#include "number_text/render.h"

namespace {
std::size_t allocation_count = 0;
}

// malloc and free pair up here; the compiler cannot see that through the
// replaced operators.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  ++allocation_count;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr std::size_t kValueCount = 1024;

// Counter-like values: rates and percentages with fractions, a few large
// byte counts and small fractions.
const std::vector<double>& sample_values() {
  static const std::vector<double> values = [] {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> v;
    for (std::size_t i = 0; i < kValueCount; ++i) {
      switch (i % 4) {
        case 0:
          v.push_back(unit(random) * 100);
          break;
        case 1:
          v.push_back(unit(random) * 1e6);
          break;
        case 2:
          v.push_back(unit(random) * 1e12);
          break;
        default:
          v.push_back(unit(random) * 1e-3);
          break;
      }
    }
    return v;
  }();
  return values;
}

const std::vector<std::string>& sample_texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (double x : sample_values()) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.5f", x);
      t.emplace_back(buffer);
    }
    return t;
  }();
  return texts;
}

void report_allocations(benchmark::State& state, std::size_t before) {
  state.counters["allocs_per_call"] = benchmark::Counter(
      static_cast<double>(allocation_count - before) / static_cast<double>(state.iterations()));
}

void BM_render_float(benchmark::State& state) {
  const auto& values = sample_values();
  std::size_t i = 0;
  std::size_t before = allocation_count;
  for (auto _ : state) {
    std::string text = render_float(values[i++ % kValueCount], FloatMode::fixed, 15, 5);
    benchmark::DoNotOptimize(text.data());
  }
  report_allocations(state, before);
}
BENCHMARK(BM_render_float);

void BM_render_float_into(benchmark::State& state) {
  const auto& values = sample_values();
  std::size_t i = 0;
  char out[kRenderFloatCapacity];
  std::size_t before = allocation_count;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        render_float_into(out, values[i++ % kValueCount], FloatMode::fixed, 15, 5));
  }
  report_allocations(state, before);
}
BENCHMARK(BM_render_float_into);

void BM_snprintf_Lf(benchmark::State& state) {
  const auto& values = sample_values();
  std::size_t i = 0;
  char out[512];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(out, sizeof out, "%.5Lf",
                                           static_cast<long double>(values[i++ % kValueCount])));
  }
}
BENCHMARK(BM_snprintf_Lf);

void BM_parse_float(benchmark::State& state) {
  const auto& texts = sample_texts();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(parse_float(texts[i++ % kValueCount]));
}
BENCHMARK(BM_parse_float);

void BM_strtold(benchmark::State& state) {
  const auto& texts = sample_texts();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::strtold(texts[i++ % kValueCount].c_str(), nullptr));
  }
}
BENCHMARK(BM_strtold);

void BM_format_value(benchmark::State& state) {
  const auto& values = sample_values();
  std::size_t i = 0;
  std::size_t before = allocation_count;
  for (auto _ : state) {
    std::string text = format_value("[%8.3f]", {FormatArg::floating(values[i++ % kValueCount])});
    benchmark::DoNotOptimize(text.data());
  }
  report_allocations(state, before);
}
BENCHMARK(BM_format_value);

void BM_snprintf_format(benchmark::State& state) {
  const auto& values = sample_values();
  std::size_t i = 0;
  char out[512];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(out, sizeof out, "[%8.3f]", values[i++ % kValueCount]));
  }
}
BENCHMARK(BM_snprintf_format);

// Keeps each run's time per iteration for the closing ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

void print_ratio(const RatioReporter& reporter, const char* ours, const char* theirs,
                 const char* target) {
  auto a = reporter.times.find(ours);
  auto b = reporter.times.find(theirs);
  if (a == reporter.times.end() || b == reporter.times.end() || a->second <= 0) return;
  std::printf("ratio %-22s / %-20s = %5.2fx faster (target %s)\n", theirs, ours,
              b->second / a->second, target);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_ratio(reporter, "BM_render_float", "BM_snprintf_Lf", ">= 4x");
  print_ratio(reporter, "BM_render_float_into", "BM_snprintf_Lf", "-");
  print_ratio(reporter, "BM_parse_float", "BM_strtold", ">= 1x");
  print_ratio(reporter, "BM_format_value", "BM_snprintf_format", ">= 1x");
  benchmark::Shutdown();
  return 0;
}
