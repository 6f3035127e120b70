// The counter-path parser and the add-time checks on arbitrary bytes. The
// catalogue is served from an empty root so no real /proc is read, except
// through the parser's own invariants below.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "perfdata/linux/query.h"
#include "perfdata/paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  perfdata::ParsedPath pp;
  perfdata::Status st = perfdata::parse_path(text, pp);
  if (st != 0 && st != perfdata::CSTATUS_BAD_COUNTERNAME) abort();
  if (st == 0) {
    // A parsed path has its parts, and they came from the text.
    if (pp.object.empty() || pp.counter.empty()) abort();
    if (pp.has_instance && pp.instance.empty()) abort();
    if (pp.counter.find('\\') != std::string::npos) abort();
    if (pp.object.find(')') != std::string::npos) abort();
    // The one join writes the parts back to the text they came from.
    if (perfdata::join_path(pp) != text) abort();
    if (text.find('*') != std::string_view::npos || text.size() > perfdata::kMaxCounterPath)
      abort();
  }
  static perfdata::linux_backend::Env env = [] {
    perfdata::linux_backend::Env e = perfdata::linux_backend::default_env();
    e.root = "/nonexistent-perfdata-root/";
    return e;
  }();
  perfdata::linux_backend::Query q(env);
  perfdata::linux_backend::Counter* c = nullptr;
  perfdata::Status add = q.add(text, &c);
  // This computer's own name is taken off before the rest is parsed; what
  // remains fails to add exactly as it fails to parse.
  perfdata::ParsedPath rest;
  perfdata::Status rest_st =
      text.size() > perfdata::kMaxCounterPath
          ? perfdata::CSTATUS_BAD_COUNTERNAME
          : perfdata::parse_path(perfdata::linux_backend::strip_own_machine(text), rest);
  if (rest_st != 0 && add != rest_st) abort();
  if (add == 0) {
    q.collect();
    q.collect();
    perfdata::linux_backend::FormattedValue v = c->format(perfdata::FMT_DOUBLE);
    (void)v;
  }
  return 0;
}
