// The formula of each counter type over two raw records, against values
// worked out by hand from the types' published definitions.
#include <gtest/gtest.h>

#include <optional>

#include "perfdata/counter_types.h"

namespace {

using namespace perfdata;

constexpr int64_t k32 = int64_t{1} << 32;
constexpr int64_t kOdd = 2'243'496;  // a time base one real system reports
constexpr uint32_t kInvalid = CSTATUS_INVALID_DATA;

struct Rec {
  int64_t n, d;
  uint32_t c_status = 0;
};

TEST(CounterTypes, EachTypeOverTwoRecords) {
  struct Row {
    int line;
    uint32_t type;
    int64_t time_base;
    std::optional<Rec> older;
    Rec newer;
    uint32_t status;
    double value;             // without FMT_NOCAP100
    double uncapped = -1e99;  // with it, where that differs
  };
  const Row rows[] = {
      {__LINE__, TYPE_100NSEC_TIMER, 0, Rec{0, 0}, {2'500'000, 10'000'000}, 0, 25},
      {__LINE__, TYPE_100NSEC_TIMER, 0, Rec{0, 0}, {12'000'000, 10'000'000}, 0, 100, 120},
      {__LINE__, TYPE_PRECISION_100NS_TIMER, 0, Rec{0, 4}, {1, 8}, 0, 25},
      {__LINE__,
       TYPE_100NSEC_TIMER_INV,
       0,
       Rec{1'000'000'000, 5'000'000'000},
       {1'004'000'000, 5'010'000'000},
       0,
       60},
      {__LINE__, TYPE_100NSEC_TIMER_INV, 0, Rec{0, 0}, {12, 10}, 0, 0, -20},
      {__LINE__, TYPE_100NSEC_TIMER_INV, 0, Rec{50, 0}, {40, 10}, kInvalid, 0},  // a reset
      {__LINE__, TYPE_COUNTER_TIMER, kOdd, Rec{0, 0}, {kOdd / 2, kOdd}, 0, 50},
      {__LINE__, TYPE_COUNTER_TIMER_INV, kOdd, Rec{0, 0}, {kOdd / 4, kOdd}, 0, 75},
      // 32 bits: 200 reads across the wrap, over 2 s of a 2,243,496 Hz clock.
      {__LINE__, TYPE_COUNTER_COUNTER, kOdd, Rec{4'294'967'200, 10}, {104, 10 + 2 * kOdd}, 0, 100},
      {__LINE__, TYPE_COUNTER_COUNTER, kOdd, Rec{5000, 0}, {3, kOdd}, kInvalid, 0},
      {__LINE__, TYPE_COUNTER_COUNTER, kOdd, Rec{k32 + 5, 0}, {k32 + 1, kOdd}, kInvalid, 0},
      {__LINE__, TYPE_COUNTER_COUNTER, kOdd, Rec{1, 7}, {9, 7}, kInvalid, 0},  // no interval
      {__LINE__, TYPE_COUNTER_COUNTER, kOdd, Rec{1, 9}, {9, 7}, kInvalid, 0},  // clock went back
      {__LINE__, TYPE_COUNTER_COUNTER, 0, Rec{1, 0}, {9, 10}, kInvalid, 0},    // no time base
      {__LINE__,
       TYPE_COUNTER_BULK_COUNT,
       10'000'000,
       Rec{1'000'000'000'000, 0},
       {1'000'500'000'000, 10'000'000},
       0,
       500'000'000},
      // 64 bits: what would be a 32-bit wrap is a reset.
      {__LINE__, TYPE_COUNTER_BULK_COUNT, 1000, Rec{0xFFFFFFF0, 0}, {0x10, 1000}, kInvalid, 0},
      {__LINE__, TYPE_COUNTER_100NS_QUEUELEN_TYPE, 0, Rec{0, 0}, {20'000'000, 10'000'000}, 0, 2},
      // 1 s of a 2,243,496 Hz clock over 40 reads; no reads is 0.
      {__LINE__, TYPE_AVERAGE_TIMER, kOdd, Rec{100, 7}, {100 + kOdd, 47}, 0, 0.025},
      {__LINE__, TYPE_AVERAGE_TIMER, kOdd, Rec{100, 7}, {100, 7}, 0, 0},
      {__LINE__, TYPE_AVERAGE_TIMER, 0, Rec{100, 7}, {200, 8}, kInvalid, 0},
      {__LINE__, TYPE_AVERAGE_BULK, 0, Rec{0, 0}, {409'600, 100}, 0, 4096},
      {__LINE__, TYPE_AVERAGE_BULK, 0, Rec{0, 0xFFFFFFFF}, {8192, 1}, 0, 4096},  // base wraps
      {__LINE__, TYPE_SAMPLE_FRACTION, 0, Rec{10, 10}, {13, 14}, 0, 75},
      {__LINE__, TYPE_SAMPLE_FRACTION, 0, Rec{10, 10}, {13, 10}, kInvalid, 0},
      {__LINE__, TYPE_RAW_FRACTION, 0, std::nullopt, {25, 200}, 0, 12.5},
      {__LINE__, TYPE_RAW_FRACTION, 0, std::nullopt, {25, 0}, kInvalid, 0},  // a base of zero
      {__LINE__, TYPE_LARGE_RAW_FRACTION, 0, std::nullopt, {3 * k32, 2 * k32}, 0, 100, 150},
      {__LINE__, TYPE_COUNTER_RAWCOUNT, 0, std::nullopt, {42, 0}, 0, 42},
      {__LINE__, TYPE_COUNTER_LARGE_RAWCOUNT, 0, Rec{9, 9}, {2 * k32, 0}, 0, 2.0 * k32},
      {__LINE__,
       TYPE_ELAPSED_TIME,
       10'000'000,
       std::nullopt,
       {10'000'000, 36'010'000'000},
       0,
       3600},
      {__LINE__, TYPE_ELAPSED_TIME, kOdd, std::nullopt, {kOdd, 11 * kOdd}, 0, 10},
      {__LINE__, TYPE_ELAPSED_TIME, 0, std::nullopt, {1, 2}, kInvalid, 0},
      // Records that are not valid, or missing where two are needed.
      {__LINE__, TYPE_100NSEC_TIMER, 0, Rec{0, 0, kInvalid}, {1, 10}, kInvalid, 0},
      {__LINE__, TYPE_100NSEC_TIMER, 0, Rec{0, 0, CSTATUS_NEW_DATA}, {1, 10, 1}, 0, 10},
      {__LINE__, TYPE_COUNTER_LARGE_RAWCOUNT, 0, std::nullopt, {7, 0, kInvalid}, kInvalid, 0},
      {__LINE__, TYPE_COUNTER_BULK_COUNT, 1000, std::nullopt, {7, 1000}, kInvalid, 0},
      {__LINE__,
       0x22410500 /* TYPE_COUNTER_MULTI_TIMER */,
       0,
       Rec{0, 0},
       {1, 1},
       NOT_IMPLEMENTED,
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    RawCounter older, newer{row.newer.c_status, 0, row.newer.n, row.newer.d, 1};
    if (row.older) older = {row.older->c_status, 0, row.older->n, row.older->d, 1};
    const RawCounter* old = row.older ? &older : nullptr;
    for (uint32_t format : {FMT_DOUBLE, FMT_DOUBLE | FMT_NOCAP100}) {
      CounterValue v{12345, 1.5};
      const double want =
          (format & FMT_NOCAP100) != 0 && row.uncapped != -1e99 ? row.uncapped : row.value;
      EXPECT_EQ(counter_value(row.type, row.time_base, format, &newer, old, &v), row.status);
      EXPECT_EQ(v.c_status, row.status);
      EXPECT_DOUBLE_EQ(v.value, want);
    }
  }
}

// A pair minutes apart gives the mean of the one-second values between, weighted by time.
TEST(CounterTypes, ALongPairIsTheMeanOfTheShortOnes) {
  for (uint32_t type : {TYPE_100NSEC_TIMER_INV, TYPE_COUNTER_COUNTER, TYPE_COUNTER_BULK_COUNT}) {
    SCOPED_TRACE(type);
    // The 32-bit counter starts near the top of its range and wraps on the way.
    const int64_t start = type == TYPE_COUNTER_COUNTER ? 4'293'500'000 : 0;
    const int64_t d[] = {0, 10'000'000, 30'000'000, 31'000'000};
    int64_t n[] = {1'000'000, 3'000'000, 25'000'000, 25'500'000};
    for (int64_t& x : n) x = (x + start) % (type == TYPE_COUNTER_COUNTER ? k32 : INT64_MAX);
    double weighted = 0;
    CounterValue v, whole;
    for (int i = 1; i < 4; ++i) {
      const RawCounter a{0, 0, n[i - 1], d[i - 1], 1}, b{0, 0, n[i], d[i], 1};
      ASSERT_EQ(counter_value(type, 10'000'000, FMT_NOCAP100, &b, &a, &v), 0u);
      weighted += v.value * static_cast<double>(d[i] - d[i - 1]);
    }
    const RawCounter first{0, 0, n[0], d[0], 1}, last{0, 0, n[3], d[3], 1};
    ASSERT_EQ(counter_value(type, 10'000'000, FMT_NOCAP100, &last, &first, &whole), 0u);
    EXPECT_NEAR(whole.value, weighted / static_cast<double>(d[3]), 1e-9);
  }
}

}  // namespace
