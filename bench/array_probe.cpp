// A one-shot reader of an array counter through the performance-data
// interface, for whole-process comparisons (bench/array_vs_ps.py): adds
// PATH as an array counter, collects once (or twice, MS apart), reads the
// items and prints how many there are. With --raw first, it reads the raw
// array instead of the formatted one (bench/raw_vs_formatted.py).
//
//   array_probe [--raw] PATH [MS]   e.g. array_probe '\Process(*)\Working Set'
//
// Exits 0 when the add and the read worked, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "perfdata/perfdata.h"

int main(int argc, char** argv) {
  const bool raw = argc > 1 && std::strcmp(argv[1], "--raw") == 0;
  if (raw) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: array_probe [--raw] PATH [MS]\n");
    return 1;
  }
  const long ms = argc > 2 ? std::strtol(argv[2], nullptr, 10) : -1;
  perfdata::Query q = nullptr;
  perfdata::Counter c = nullptr;
  if (perfdata::open_query(&q) != 0 || perfdata::add_array_counter(q, argv[1], &c) != 0) return 1;
  perfdata::collect_query_data(q);
  if (ms >= 0) {
    perfdata::sleep_ms(static_cast<uint32_t>(ms));
    perfdata::collect_query_data(q);
  }
  size_t count = 0;
  if (raw) {
    std::vector<perfdata::RawArrayItem> items;
    if (perfdata::get_raw_counter_array(c, &items) != 0) return 1;
    count = items.size();
  } else {
    std::vector<perfdata::ArrayItem> items;
    if (perfdata::get_formatted_counter_array(c, perfdata::FMT_DOUBLE, &items) != 0) return 1;
    count = items.size();
  }
  std::printf("%zu\n", count);
  perfdata::close_query(q);
  return 0;
}
