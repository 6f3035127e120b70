// Raw records pass whole, the newer first, through a model call table; the
// real calls (under Wine: values that mean nothing) give the protocol and types.
#include <gtest/gtest.h>
#include <vector>

#include "perfdata/counter_types.h"
#include "perfdata/perfdata.h"
#include "perfdata/win32/syscalls.h"

namespace {

namespace w = perfdata::win32_backend;

constexpr LONGLONG kStamp = 0x01DB'4C3A'8000'0007;  // both halves of the FILETIME matter
std::vector<PDH_RAW_COUNTER> seen;                  // what the calculation was given

PDH_STATUS WINAPI model_value(PDH_HCOUNTER, LPDWORD, PPDH_RAW_COUNTER value) {
  *value = {0, {0x8000'0007, 0x01DB'4C3A}, 7, 70, 1};
  return 0;
}
PDH_STATUS WINAPI model_calculate(PDH_HCOUNTER, DWORD, PPDH_RAW_COUNTER newer,
                                  PPDH_RAW_COUNTER older, PPDH_FMT_COUNTERVALUE value) {
  seen = {*newer, *older};
  value->doubleValue = 2.5;
  return 0;
}

TEST(Win32Raw, RecordsPassWholeBothWays) {
  const w::SysCalls saved = w::syscalls();
  w::syscalls().get_raw_counter_value = model_value;
  w::syscalls().calculate_counter_from_raw_value = model_calculate;
  int stand_in = 0;
  const auto handle = reinterpret_cast<perfdata::Counter>(&stand_in);
  perfdata::RawCounter raw;
  ASSERT_EQ(perfdata::get_raw_counter_value(handle, &raw), 0u);
  EXPECT_TRUE(raw.time_stamp == kStamp && raw.first_value == 7 && raw.second_value == 70);
  const perfdata::RawCounter older{1, kStamp - 5, 3, 30, 2};
  perfdata::CounterValue v;
  ASSERT_EQ(perfdata::calculate_counter_from_raw(handle, 0, &raw, &older, &v), 0u);
  EXPECT_TRUE(v.value == 2.5 && seen[0].FirstValue == 7);  // the newer record first
  EXPECT_TRUE(seen[1].CStatus == 1 && seen[1].SecondValue == 30 && seen[1].MultiCount == 2 &&
              seen[1].TimeStamp.dwHighDateTime == 0x01DB'4C3A &&
              seen[1].TimeStamp.dwLowDateTime == 0x8000'0002);
  // Without an older record the newer one stands in (Wine reads it whatever the type).
  ASSERT_EQ(perfdata::calculate_counter_from_raw(handle, 0, &raw, nullptr, &v), 0u);
  EXPECT_EQ(seen[1].FirstValue, 7);
  w::syscalls() = saved;
}

TEST(Win32RawReal, ReadsInfoAndCalculationAnswer) {
  perfdata::Query q = nullptr;
  ASSERT_EQ(perfdata::open_query(&q), 0u);
  perfdata::Counter c[2] = {};
  ASSERT_EQ(perfdata::add_english_counter(q, "\\Processor(_Total)\\% Processor Time", &c[0]), 0u);
  ASSERT_EQ(perfdata::add_english_counter(q, "\\System\\System Up Time", &c[1]), 0u);
  perfdata::RawCounter r[2][2];
  for (int k = 0; k < 2; ++k) {
    perfdata::sleep_ms(50);
    ASSERT_EQ(perfdata::collect_query_data(q), 0u);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(perfdata::get_raw_counter_value(c[i], &r[i][k]), 0u);
  }
  const uint32_t types[] = {perfdata::TYPE_100NSEC_TIMER_INV, perfdata::TYPE_ELAPSED_TIME};
  perfdata::CounterInfo info[2];
  perfdata::CounterValue v;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(perfdata::get_counter_info(c[i], &info[i]), 0u);
    EXPECT_EQ(info[i].type, types[i]);
    EXPECT_GT(r[i][1].time_stamp, r[i][0].time_stamp);
    EXPECT_EQ(perfdata::calculate_counter_from_raw(c[i], 0, &r[i][1], &r[i][0], &v), 0u);
  }
  // The up time by the formulas here: a clock the system gives, a positive time.
  EXPECT_EQ(perfdata::calculate_from_raw(info[1], 0, &r[1][1], nullptr, &v), 0u);
  EXPECT_TRUE(info[1].time_base > 0 && v.value > 0.0);
  perfdata::close_query(q);
}

}  // namespace
