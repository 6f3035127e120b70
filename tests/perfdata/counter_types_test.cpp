// The formula of each counter type over two raw records, against values
// worked out by hand from the types' published definitions.
#include <gtest/gtest.h>

#include <optional>

#include "perfdata/counter_types.h"

namespace {

using namespace perfdata;

constexpr int64_t k32 = int64_t{1} << 32, kOdd = 2'243'496;  // a time base one system reports
constexpr uint32_t kBad = CSTATUS_INVALID_DATA;
constexpr std::nullopt_t none = std::nullopt;
constexpr double same = -1e99;  // the value with FMT_NOCAP100 is the capped one

struct Rec {
  int64_t n, d;
  uint32_t c_status = 0;
};
RawCounter raw(const Rec& r) { return RawCounter{r.c_status, 0, r.n, r.d, 1}; }

TEST(CounterTypes, EachTypeOverTwoRecords) {
  struct Row {
    int line;
    uint32_t type;
    int64_t base;
    std::optional<Rec> older;
    Rec newer;
    uint32_t status;
    double value, uncapped = same;
  } rows[] = {
      {__LINE__, TYPE_100NSEC_TIMER, 0, Rec{0, 0}, {2'500'000, 10'000'000}, 0, 25},
      {__LINE__, TYPE_100NSEC_TIMER, 0, Rec{0, 0}, {12'000'000, 10'000'000}, 0, 100, 120},
      {__LINE__,
       TYPE_100NSEC_TIMER_INV,
       0,
       Rec{1'000'000, 5'000'000},
       {1'400'000, 6'000'000},
       0,
       60},
      {__LINE__, TYPE_100NSEC_TIMER_INV, 0, Rec{0, 0}, {12, 10}, 0, 0, -20},
      // 32 bits: 200 reads across the wrap, over 2 s of a 2,243,496 Hz clock.
      {__LINE__, TYPE_COUNTER_COUNTER, kOdd, Rec{4'294'967'200, 10}, {104, 10 + 2 * kOdd}, 0, 100},
      {__LINE__, TYPE_COUNTER_COUNTER, kOdd, Rec{5000, 0}, {3, kOdd}, kBad, 0},  // not a wrap
      {__LINE__, TYPE_COUNTER_COUNTER, kOdd, Rec{1, 7}, {9, 7}, kBad, 0},        // a zero interval
      {__LINE__, TYPE_COUNTER_COUNTER, 0, Rec{1, 0}, {9, 10}, kBad, 0},          // no time base
      {__LINE__, TYPE_COUNTER_BULK_COUNT, 1000, Rec{k32, 0}, {k32 + 500, 2000}, 0, 250},
      // Milliseconds of a 32-bit queue sum across its wrap over a ms clock.
      {__LINE__, TYPE_COUNTER_QUEUELEN_TYPE, 1000, Rec{k32 - 296, 1000}, {704, 3000}, 0, 0.5},
      {__LINE__, TYPE_COUNTER_TIMER, 1000, Rec{0, 1000}, {3000, 3000}, 0, 100, 150},
      {__LINE__, TYPE_COUNTER_TIMER_INV, 1000, Rec{10, 1000}, {510, 3000}, 0, 75},
      // 64 bits: what would be a 32-bit wrap is a reset.
      {__LINE__, TYPE_COUNTER_BULK_COUNT, 1000, Rec{0xFFFFFFF0, 0}, {0x10, 1000}, kBad, 0},
      // 1 s of a 2,243,496 Hz clock over 40 reads; no reads is 0.
      {__LINE__, TYPE_AVERAGE_TIMER, kOdd, Rec{100, 7}, {100 + kOdd, 47}, 0, 0.025},
      {__LINE__, TYPE_AVERAGE_TIMER, kOdd, Rec{100, 7}, {100, 7}, 0, 0},
      {__LINE__, TYPE_AVERAGE_BULK, 0, Rec{0, 0}, {409'600, 100}, 0, 4096},
      {__LINE__, TYPE_AVERAGE_BULK, 0, Rec{0, 0xFFFFFFFF}, {8192, 1}, 0, 4096},  // the base wraps
      {__LINE__, TYPE_RAW_FRACTION, 0, none, {25, 200}, 0, 12.5},
      {__LINE__, TYPE_RAW_FRACTION, 0, none, {25, 0}, kBad, 0},  // a base of zero
      {__LINE__, TYPE_LARGE_RAW_FRACTION, 0, none, {3 * k32, 2 * k32}, 0, 100, 150},
      {__LINE__, TYPE_COUNTER_RAWCOUNT, 0, none, {42, 0}, 0, 42},
      {__LINE__, TYPE_COUNTER_LARGE_RAWCOUNT, 0, Rec{9, 9}, {2 * k32, 0}, 0, 2.0 * k32},
      {__LINE__, TYPE_ELAPSED_TIME, kOdd, none, {kOdd, 11 * kOdd}, 0, 10},
      {__LINE__, TYPE_100NSEC_TIMER, 0, Rec{0, 0, kBad}, {1, 10}, kBad, 0},  // an older not valid
      {__LINE__, TYPE_COUNTER_BULK_COUNT, 1000, none, {7, 1000}, kBad, 0},   // no older
      {__LINE__, 0x22410500 /* MULTI_TIMER */, 0, Rec{0, 0}, {1, 1}, NOT_IMPLEMENTED, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const RawCounter newer = raw(row.newer), older = raw(row.older.value_or(Rec{}));
    for (uint32_t format : {FMT_DOUBLE, FMT_DOUBLE | FMT_NOCAP100}) {
      CounterValue v{12345, 1.5};
      const bool nocap = (format & FMT_NOCAP100) != 0 && row.uncapped != same;
      EXPECT_EQ(counter_value(row.type, row.base, format, &newer, row.older ? &older : nullptr, &v),
                row.status);
      EXPECT_EQ(v.c_status, row.status);
      EXPECT_DOUBLE_EQ(v.value, nocap ? row.uncapped : row.value);
    }
  }
}

}  // namespace
