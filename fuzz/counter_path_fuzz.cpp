// The counter-path parser and the add-time checks on arbitrary bytes. The
// catalogue is served from an empty root so no real /proc is read, except
// through the parser's own invariants below.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/perf/linperf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  linperf::ParsedPath pp;
  pdh::Status st = linperf::parse_path(text, pp);
  if (st != 0 && st != pdh::CSTATUS_BAD_COUNTERNAME) abort();
  if (st == 0) {
    // A parsed path has its parts, and they came from the text.
    if (pp.object.empty() || pp.counter.empty()) abort();
    if (pp.has_instance && pp.instance.empty()) abort();
    if (pp.counter.find('\\') != std::string::npos) abort();
    if (pp.object.find(')') != std::string::npos) abort();
    if (text.find('*') != std::string_view::npos || text.size() > linperf::kMaxCounterPath) abort();
  }
  static linperf::Env env = [] {
    linperf::Env e = linperf::default_env();
    e.root = "/nonexistent-linperf-root/";
    return e;
  }();
  linperf::Query q(env);
  linperf::Counter* c = nullptr;
  pdh::Status add = q.add(text, &c);
  if (st != 0 && add != st) abort();
  if (add == 0) {
    q.collect();
    q.collect();
    linperf::FormattedValue v = c->format(pdh::FMT_DOUBLE);
    (void)v;
  }
  return 0;
}
