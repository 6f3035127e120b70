// Cost of rendering a check result as OpenMetrics text at N process series
// (N/8 processes, eight counters each, every one a family of its own): the
// textfile a wildcard check over every process writes. Should stay under
// 20 ms of CPU at 8,000 series and grow linearly with N.
#include <benchmark/benchmark.h>

#include <string>

#include "plugin/render_openmetrics.h"

namespace {

plugin::CheckResult process_result(int series) {
  struct Counter {
    const char *name, *kind, *unit;
  };
  const Counter counters[] = {
      {"% Processor Time", "percent", "%"}, {"Working Set", "gauge", "B"},
      {"Private Bytes", "gauge", "B"},      {"Virtual Bytes", "gauge", "B"},
      {"Handle Count", "gauge", ""},        {"Thread Count", "gauge", ""},
      {"IO Read Bytes/sec", "rate", ""},    {"Elapsed Time", "elapsed", "s"},
  };
  plugin::CheckResult r;
  for (int i = 0; i < series; ++i) {
    const Counter& c = counters[i % 8];
    plugin::CounterResult item;
    item.object = "Process";
    item.instance = "worker-" + std::to_string(i / 8);
    item.counter = c.name;
    item.kind = c.kind;
    item.unit = c.unit;
    item.path = "\\Process(" + item.instance + ")\\" + c.name;
    item.explanation = "What the counter measures, one line of text";
    item.has_value = true;
    item.value = 1234567.0 + i * 0.25;
    r.counters.push_back(std::move(item));
  }
  return r;
}

void BM_RenderOpenMetrics(benchmark::State& state) {
  const plugin::CheckResult r = process_result(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = plugin::render_openmetrics(r);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderOpenMetrics)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
