// Raw reads of the Windows backend: the records pass through with their
// time stamps whole, the array read keeps the formatted array's protocol and
// naming, the counter info carries the type and clock. Models in the call
// table first; then the real calls, which under Wine answer with records
// whose values mean nothing, so only the protocol is checked there.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "perfdata/counter_types.h"
#include "perfdata/perfdata.h"
#include "perfdata/win32/syscalls.h"

namespace {

namespace w = perfdata::win32_backend;

constexpr LONGLONG kStamp = 0x01DB'4C3A'8000'0001;  // both halves of the FILETIME matter
int calls = 0;
std::vector<std::string> names;

PDH_RAW_COUNTER record(LONGLONG i) {
  const auto t = static_cast<ULONGLONG>(kStamp + i);
  return {0, {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}, i, 10 * i, 1};
}

PDH_STATUS WINAPI model_array(PDH_HCOUNTER, LPDWORD size, LPDWORD count,
                              PPDH_RAW_COUNTER_ITEM_A items) {
  ++calls;
  DWORD need = static_cast<DWORD>(names.size() * sizeof *items);
  for (const std::string& n : names) need += static_cast<DWORD>(n.size() + 1);
  *count = static_cast<DWORD>(names.size());
  if (*size < need) return *size = need, static_cast<PDH_STATUS>(PDH_MORE_DATA);
  char* text = reinterpret_cast<char*>(items + names.size());
  for (size_t i = 0; i < names.size(); text += names[i++].size() + 1) {
    items[i].szName = std::strcpy(text, names[i].c_str());
    items[i].RawValue = record(static_cast<LONGLONG>(i));
  }
  return 0;
}

PDH_STATUS WINAPI model_value(PDH_HCOUNTER, LPDWORD, PPDH_RAW_COUNTER value) {
  *value = record(7);
  return 0;
}

PDH_RAW_COUNTER seen_newer, seen_older;
bool older_passed = false;
PDH_STATUS WINAPI model_calculate(PDH_HCOUNTER, DWORD, PPDH_RAW_COUNTER newer,
                                  PPDH_RAW_COUNTER older, PPDH_FMT_COUNTERVALUE value) {
  seen_newer = *newer;
  older_passed = older != nullptr;
  if (older != nullptr) seen_older = *older;
  value->CStatus = 0;
  value->doubleValue = 2.5;
  return 0;
}

struct Win32Raw : ::testing::Test {
  w::SysCalls saved = w::syscalls();
  Win32Raw() {
    w::syscalls().get_raw_counter_array = model_array;
    w::syscalls().get_raw_counter_value = model_value;
    w::syscalls().calculate_counter_from_raw_value = model_calculate;
    calls = 0;
  }
  ~Win32Raw() override { w::syscalls() = saved; }
};

TEST_F(Win32Raw, ArrayInTwoCallsNamedAndOrderedAsTheFormattedOne) {
  names = {"svchost", "_Total", "System", "SVCHOST"};
  std::vector<perfdata::RawArrayItem> items(1);
  ASSERT_EQ(perfdata::get_raw_counter_array(&calls, &items), 0u);
  std::ostringstream got;
  for (const auto& i : items)
    got << i.name << '=' << i.raw.first_value << '/' << i.raw.second_value << '@'
        << i.raw.time_stamp - kStamp << ' ';
  EXPECT_EQ(got.str(), "svchost=0/0@0 System=2/20@2 SVCHOST#1=3/30@3 _Total=1/10@1 ");
  EXPECT_EQ(calls, 2);
}

TEST_F(Win32Raw, RecordsPassWholeBothWays) {
  perfdata::RawCounter raw;
  ASSERT_EQ(perfdata::get_raw_counter_value(&calls, &raw), 0u);
  EXPECT_EQ(raw.time_stamp, kStamp + 7);
  EXPECT_EQ(raw.first_value, 7);
  EXPECT_EQ(raw.second_value, 70);
  const perfdata::RawCounter older{1, kStamp, 3, 30, 2};
  perfdata::CounterValue v;
  ASSERT_EQ(perfdata::calculate_counter_from_raw(&calls, 0, &raw, &older, &v), 0u);
  EXPECT_EQ(v.value, 2.5);
  // The system takes the newer record first.
  EXPECT_EQ(seen_newer.FirstValue, 7);
  EXPECT_EQ(seen_older.SecondValue, 30);
  EXPECT_EQ(seen_older.CStatus, 1u);
  EXPECT_EQ(seen_older.MultiCount, 2u);
  EXPECT_EQ(seen_older.TimeStamp.dwHighDateTime, static_cast<DWORD>(kStamp >> 32));
  // Without an older record the newer one stands in (Wine reads it whatever the type).
  EXPECT_EQ(perfdata::calculate_counter_from_raw(&calls, 0, &raw, nullptr, &v), 0u);
  EXPECT_TRUE(older_passed);
  EXPECT_EQ(seen_older.FirstValue, 7);
}

// The real calls. Wine answers every raw read with status 0 but values that
// are not the machine's, so this asks for the protocol, the types and the
// elapsed-time clock only.
TEST(Win32RawReal, ReadsInfoAndCalculationAnswer) {
  perfdata::Query q = nullptr;
  ASSERT_EQ(perfdata::open_query(&q), 0u);
  perfdata::Counter cpu = nullptr, up = nullptr;
  ASSERT_EQ(perfdata::add_english_counter(q, "\\Processor(_Total)\\% Processor Time", &cpu), 0u);
  ASSERT_EQ(perfdata::add_english_counter(q, "\\System\\System Up Time", &up), 0u);
  perfdata::RawCounter r0[2], r1[2];
  ASSERT_EQ(perfdata::collect_query_data(q), 0u);
  ASSERT_EQ(perfdata::get_raw_counter_value(cpu, &r0[0]), 0u);
  ASSERT_EQ(perfdata::get_raw_counter_value(up, &r0[1]), 0u);
  perfdata::sleep_ms(50);
  ASSERT_EQ(perfdata::collect_query_data(q), 0u);
  ASSERT_EQ(perfdata::get_raw_counter_value(cpu, &r1[0]), 0u);
  ASSERT_EQ(perfdata::get_raw_counter_value(up, &r1[1]), 0u);
  perfdata::CounterInfo info[2];
  ASSERT_EQ(perfdata::get_counter_info(cpu, &info[0]), 0u);
  ASSERT_EQ(perfdata::get_counter_info(up, &info[1]), 0u);
  EXPECT_EQ(info[0].type, perfdata::TYPE_100NSEC_TIMER_INV);
  EXPECT_EQ(info[1].type, perfdata::TYPE_ELAPSED_TIME);
  EXPECT_GT(info[1].time_base, 0);
  EXPECT_GT(r1[1].time_stamp, r0[1].time_stamp);
  perfdata::CounterValue v;
  EXPECT_EQ(perfdata::calculate_counter_from_raw(cpu, perfdata::FMT_DOUBLE, &r1[0], &r0[0], &v),
            0u);
  EXPECT_EQ(perfdata::calculate_counter_from_raw(up, perfdata::FMT_DOUBLE, &r1[1], nullptr, &v),
            0u);
  std::vector<perfdata::RawArrayItem> items;
  const perfdata::Status array = perfdata::get_raw_counter_array(cpu, &items);
  EXPECT_TRUE(array == (w::syscalls().enum_objects_is_stub ? perfdata::NOT_IMPLEMENTED : 0u))
      << array;
  perfdata::close_query(q);
}

}  // namespace
