// Totals of each counter type; sampling over the table's raw columns.
#include "app/check_vantric/totals.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/check_vantric/sampling.h"
#include "perfdata/counter_types.h"
#include "tests/support/test_support.h"

namespace {

using Shape = plugin::Totals::Shape;

TEST(Totals, EachType) {
  struct Row {
    int line;
    uint32_t type;
    int64_t time_base, first, second;
    uint32_t c_status;
    bool ok;
    Shape shape;
    double sum, count;
  };
  const Row rows[] = {
      {__LINE__, perfdata::TYPE_100NSEC_TIMER_INV, 0, 40'000'000, 100'000'000, 0, true,
       Shape::counter, 6, 0},
      {__LINE__, perfdata::TYPE_100NSEC_TIMER, 0, 25'000'000, 0, 1, true, Shape::counter, 2.5, 0},
      {__LINE__, perfdata::TYPE_COUNTER_TIMER, 2'243'496, 4'486'992, 0, 0, true, Shape::counter, 2,
       0},
      {__LINE__, perfdata::TYPE_COUNTER_COUNTER, 1000, (int64_t{1} << 32) + 5, 7, 0, true,
       Shape::counter, 5, 0},
      {__LINE__, perfdata::TYPE_COUNTER_BULK_COUNT, 1000, int64_t{1} << 40, 7, 0, true,
       Shape::counter, 1099511627776.0, 0},
      {__LINE__, perfdata::TYPE_AVERAGE_TIMER, 1000, 500, 10, 0, true, Shape::pair, 0.5, 10},
      {__LINE__, perfdata::TYPE_AVERAGE_TIMER, 0, 500, 10, 0, false, Shape::none, 0, 0},
      {__LINE__, perfdata::TYPE_COUNTER_BULK_COUNT, 1000, 1, 1, perfdata::CSTATUS_INVALID_DATA,
       false, Shape::none, 0, 0},
      {__LINE__, perfdata::TYPE_COUNTER_LARGE_RAWCOUNT, 0, 1, 0, 0, false, Shape::none, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const perfdata::RawCounter raw{row.c_status, 10'000'000, row.first, row.second, 1};
    plugin::Totals t;
    EXPECT_EQ(check_vantric::to_totals(row.type, row.time_base, raw, &t), row.ok);
    EXPECT_EQ(t.shape, row.shape);
    EXPECT_DOUBLE_EQ(t.sum, row.sum);
    EXPECT_DOUBLE_EQ(t.count, row.count);
  }
}

// Raw rows advance between collections; "ID Process" is 42 at the first, 43 later.
const char kTable[] =
    "\\C(_Total)\\% Busy\t0\t0\t0\t\t%\t\t\t0x21510500\t0\t1000000\t1000000\t10000000\t10000000\n"
    "\\C(0)\\% Busy\t0\t0\t0\t\t%\t\t\t0x21510500\t0\t1000000\t2000000\t10000000\t10000000\n"
    "\\D(a)\\Avg sec/Op\t0\t0\t0\t\ts\t\t\t0x30020400\t1000\t500\t50\t10\t2\n"
    "\\D(a)\\Ops/sec\t0\t0\t7\trate\n"
    "\\Process(p)\\Work\t0\t0\t0\t\tB\t\t\t0x10100\t0\t5\t1\t0\n"
    "\\Process(p)\\ID Process\t0\t0\t42\tgauge\t\t\t1\n"
    "\\Process(p)\\ID Process\t0\t0\t43\tgauge\t\t\t2-\n";

std::string sampled(std::vector<std::string> paths, check_vantric::Format format,
                    bool interval_gauges = false) {
  static const bool table = [] {
    FILE* f = std::fopen("totals_test_counters.txt", "wb");
    std::fputs(kTable, f);
    std::fclose(f);
    test_support::set_environment("VANTRIC_SIM_COUNTERS", "totals_test_counters.txt");
    return true;
  }();
  (void)table;
  check_vantric::Request r;
  r.paths = std::move(paths);
  r.format = format;
  r.interval_gauges = interval_gauges;
  std::string s;
  for (const plugin::CounterResult& c : check_vantric::check_counters(r).counters) {
    s += plugin::counter_text(c);
    if (c.totals.shape != Shape::none)
      s += " [" + std::to_string(c.totals.sum) + " " + std::to_string(c.totals.count) + "]";
    if (!c.process_id.empty()) s += " pid " + c.process_id;
    s += "; ";
  }
  return s;
}

TEST(Totals, OneCollectionUnlessACounterHasNoRawSeries) {
  using check_vantric::Format;
  const std::string busy = "\\C(0)\\% Busy = 0.9% [0.900000 0.000000]; ";
  EXPECT_EQ(sampled({"\\C(*)\\% Busy", "\\Process(*)\\Work"}, Format::openmetrics),
            busy + "\\Process(p)\\Work = 5B pid 42; ");
  // A counter without a raw series waits -s: the ids come from the second collection.
  EXPECT_EQ(
      sampled({"\\Process(*)\\Work", "\\D(a)\\Ops/sec", "\\D(a)\\Avg sec/Op"}, Format::openmetrics),
      "\\Process(p)\\Work = 5B pid 43; \\D(a)\\Ops/sec = 7; "
      "\\D(a)\\Avg sec/Op = 0.5s [0.500000 10.000000]; ");
  EXPECT_EQ(sampled({"\\C(*)\\% Busy"}, Format::openmetrics, true), "\\C(0)\\% Busy = 80%; ");
  EXPECT_EQ(sampled({"\\C(*)\\% Busy"}, Format::nagios),
            "\\C(_Total)\\% Busy = 90%; \\C(0)\\% Busy = 80%; ");
}

}  // namespace
