// A one-shot reader of an array counter through the performance-data
// interface, for whole-process comparisons (bench/array_vs_ps.py): adds
// PATH as an array counter, collects once (or twice, MS apart), reads the
// items and prints how many there are.
//
//   array_probe PATH [MS]      e.g. array_probe '\Process(*)\Working Set'
//
// Exits 0 when the add and the read worked, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "perfdata/perfdata.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: array_probe PATH [MS]\n");
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
  std::vector<perfdata::ArrayItem> items;
  if (perfdata::get_formatted_counter_array(c, perfdata::FMT_DOUBLE, &items) != 0) return 1;
  std::printf("%zu\n", items.size());
  perfdata::close_query(q);
  return 0;
}
