// check_vantric's sampling over the counter table: rounds and -n averaging,
// arrays whose instances come, end and fail between rounds, missing
// instances and the --missing state, and the route without arrays.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/check_vantric/sampling.h"
#include "tests/support/test_support.h"

namespace {

// Rounds read at collections 2 and 3 (-n 2): a 10 then 30, b always 5, c
// ends after round 1, d fails in round 2, e starts in round 2.
const char kTable[] =
    "\\J(a)\\Load\t0\t0\t10\tgauge\t\t\t1-2\n\\J(a)\\Load\t0\t0\t30\tgauge\t\t\t3-\n"
    "\\J(b)\\Load\t0\t0\t5\tgauge\n\\J(c)\\Load\t0\t0\t7\tgauge\t\t\t1-2\n"
    "\\J(d)\\Load\t0\t0\t1\tgauge\t\t\t1-2\n\\J(d)\\Load\t0\t0xC0000BBA\t1\tgauge\t\t\t3-\n"
    "\\J(e)\\Load\t0\t0\t4\tgauge\t\t\t3-\n\\J(zz)\\Load\t0x800007D1\t0\t0\n";

// Each counter as the summary shows it, its state and its path's index;
// then the unmatched paths.
std::string sampled(std::vector<std::string> paths, uint32_t samples) {
  static const bool table = [] {
    FILE* f = std::fopen("sampling_test_counters.txt", "wb");
    std::fputs(kTable, f);
    std::fclose(f);
    test_support::set_environment("VANTRIC_SIM_COUNTERS", "sampling_test_counters.txt");
    return true;
  }();
  (void)table;
  check_vantric::Request r;
  r.paths = std::move(paths);
  r.samples = samples;
  r.missing = plugin::State::warning;
  const plugin::CheckResult result = check_vantric::check_counters(r);
  std::string s = result.problem;
  for (const plugin::CounterResult& c : result.counters)
    s += plugin::counter_text(c) + " " + state_word(c.state) + " @" + std::to_string(c.source) +
         "; ";
  for (const std::string& p : result.unmatched) s += "unmatched " + p + "; ";
  return s;
}

TEST(Sampling, RoundsArraysAndMissingInstances) {
  EXPECT_EQ(sampled({"\\J(a)\\Load"}, 1), "\\J(a)\\Load = 10 OK @0; ");
  EXPECT_EQ(sampled({"\\J(a)\\Load", "\\J(b)\\Load"}, 2),
            "\\J(a)\\Load = 20 OK @0; \\J(b)\\Load = 5 OK @1; ");
  // An instance is averaged over the rounds it was in; its first failure stays.
  EXPECT_EQ(sampled({"\\J(*)\\Load"}, 2),
            "\\J(a)\\Load = 20 OK @0; \\J(b)\\Load = 5 OK @0; \\J(c)\\Load = 7 OK @0; "
            "\\J(d)\\Load: data not valid yet UNKNOWN @0; \\J(e)\\Load = 4 OK @0; ");
  EXPECT_EQ(sampled({"\\J(zz)\\Load", "\\J(q*)\\Load"}, 1),
            "\\J(zz)\\Load: no such instance WARNING @0; unmatched \\J(q*)\\Load; ");
  // Without arrays each match is a counter of its own: one that ended or
  // failed before its reading is left out while others of its path were read.
  test_support::set_environment("VANTRIC_SIM_NO_ARRAYS", "1");
  EXPECT_EQ(sampled({"\\J(*)\\Load"}, 2), "\\J(a)\\Load = 20 OK @0; \\J(b)\\Load = 5 OK @0; ");
  test_support::set_environment("VANTRIC_SIM_NO_ARRAYS", nullptr);
}

}  // namespace
