// The Windows backend's discovery logic: the size-then-fill protocol and the
// double-NUL lists, driven through substitutes in its system-call table;
// then the real calls, which a Wine prefix lacks, must fail cleanly.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "perfdata/perfdata.h"
#include "perfdata/win32/syscalls.h"

namespace {

namespace w = perfdata::win32_backend;

// One scripted answer: the status, the size reported back, and the bytes
// written when the caller passed a buffer (cut to the room it gave).
struct Answer {
  DWORD status;
  DWORD size;
  std::string bytes;
};
std::deque<Answer> answers;
int calls = 0;

PDH_STATUS answer(LPSTR buf, LPDWORD size) {
  ++calls;
  if (answers.empty()) return static_cast<PDH_STATUS>(PDH_INVALID_ARGUMENT);
  Answer a = answers.front();
  answers.pop_front();
  if (buf != nullptr) a.bytes.copy(buf, std::min<size_t>(a.bytes.size(), *size));
  *size = a.size;
  return static_cast<PDH_STATUS>(a.status);
}

PDH_STATUS WINAPI fake_enum_objects(LPCSTR, LPCSTR, LPSTR list, LPDWORD size, DWORD, WINBOOL) {
  return answer(list, size);
}
PDH_STATUS WINAPI fake_expand(LPCSTR, LPCSTR, LPSTR list, LPDWORD size, DWORD) {
  return answer(list, size);
}
// Counters and instances answer from the same script, one answer each.
PDH_STATUS WINAPI fake_items(LPCSTR, LPCSTR, LPCSTR, LPSTR counters, LPDWORD csize, LPSTR instances,
                             LPDWORD isize, DWORD, DWORD) {
  PDH_STATUS st = answer(counters, csize);
  answer(instances, isize);
  return st;
}

const std::string nul(1, '\0');

class Win32Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = w::syscalls();
    answers.clear();
    calls = 0;
  }
  void TearDown() override { w::syscalls() = saved_; }
  w::SysCalls saved_{};
};

TEST_F(Win32Discovery, ListsThroughTheTwoCallProtocol) {
  w::syscalls().enum_objects = fake_enum_objects;
  w::syscalls().expand_wildcard_path = fake_expand;
  w::syscalls().enum_objects_is_stub = false;
  struct Row {
    int line;
    std::vector<Answer> script;
    perfdata::Status status;
    std::vector<std::string> list;
  } rows[] = {
      {__LINE__,
       {{PDH_MORE_DATA, 18, ""}, {0, 18, std::string("Processor\0Memory\0\0", 18)}},
       0,
       {"Processor", "Memory"}},
      // The list grew between the calls: ask again with the new size.
      {__LINE__,
       {{PDH_MORE_DATA, 8, ""},
        {PDH_MORE_DATA, 12, ""},
        {0, 12, std::string("abc\0defgh\0\0", 12)}},
       0,
       {"abc", "defgh"}},
      // A list without its final NUL ends at the buffer's end.
      {__LINE__, {{PDH_MORE_DATA, 7, ""}, {0, 7, std::string("ab\0cdef", 7)}}, 0, {"ab", "cdef"}},
      {__LINE__, {{0, 0, ""}}, 0, {}},
      {__LINE__, {{PDH_NOT_IMPLEMENTED, 0, ""}}, perfdata::NOT_IMPLEMENTED, {}},
      {__LINE__, {{PDH_MORE_DATA, 4, ""}, {PDH_ACCESS_DENIED, 4, ""}}, PDH_ACCESS_DENIED, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    for (int which = 0; which < 2; ++which) {
      answers.assign(row.script.begin(), row.script.end());
      std::vector<std::string> list{"stale"};
      perfdata::Status st = which == 0 ? perfdata::enum_objects(&list)
                                       : perfdata::expand_wildcard_path("\\Processor(*)\\*", &list);
      EXPECT_EQ(st, row.status);
      EXPECT_EQ(list, row.list);
      EXPECT_TRUE(answers.empty());
    }
  }
  // Nothing matched is an empty expansion, not an error.
  answers = {{PDH_CSTATUS_NO_INSTANCE, 0, ""}};
  std::vector<std::string> paths;
  EXPECT_EQ(perfdata::expand_wildcard_path("\\Processor(9*)\\*", &paths), 0u);
}

TEST_F(Win32Discovery, ObjectItemsFillBothLists) {
  w::syscalls().enum_object_items = fake_items;
  answers = {{PDH_MORE_DATA, 12, ""},
             {PDH_MORE_DATA, 10, ""},
             {0, 12, "% Idle Time" + nul},
             {0, 10,
              std::string("_Total\0"
                          "0\0\0",
                          10)}};
  std::vector<perfdata::CounterInfo> counters;
  std::vector<std::string> instances;
  ASSERT_EQ(perfdata::enum_object_items("Processor", &counters, &instances), 0u);
  ASSERT_EQ(counters.size(), 1u);
  EXPECT_EQ(counters[0].name, "% Idle Time");
  EXPECT_EQ(instances, (std::vector<std::string>{"_Total", "0"}));

  // A single-instance object asks no room for instances.
  answers = {{PDH_MORE_DATA, 7, ""}, {0, 0, ""}, {0, 7, std::string("Pages\0\0", 7)}, {0, 0, ""}};
  ASSERT_EQ(perfdata::enum_object_items("Memory", &counters, &instances), 0u);
  EXPECT_EQ(counters.size(), 1u);
  EXPECT_TRUE(instances.empty());

  answers = {{PDH_NOT_IMPLEMENTED, 0, ""}, {PDH_NOT_IMPLEMENTED, 0, ""}};
  EXPECT_EQ(perfdata::enum_object_items("Memory", &counters, &instances),
            perfdata::NOT_IMPLEMENTED);
}

TEST_F(Win32Discovery, StubIsNeverCalled) {
  w::syscalls().enum_objects = fake_enum_objects;
  w::syscalls().enum_objects_is_stub = true;
  std::vector<std::string> objects;
  EXPECT_EQ(perfdata::enum_objects(&objects), perfdata::NOT_IMPLEMENTED);
  EXPECT_EQ(calls, 0);
}

// The counter type the system reports gives the kind and the unit.
DWORD reported_type = 0;
PDH_STATUS WINAPI fake_info(PDH_HCOUNTER, BOOLEAN, LPDWORD size, PPDH_COUNTER_INFO_A info) {
  static char name[] = "Available Bytes";
  if (info == nullptr || *size < sizeof(PDH_COUNTER_INFO_A)) {
    *size = sizeof(PDH_COUNTER_INFO_A);
    return static_cast<PDH_STATUS>(PDH_MORE_DATA);
  }
  *info = PDH_COUNTER_INFO_A{};
  info->dwType = reported_type;
  info->lDefaultScale = -6;
  info->szCounterName = name;
  return 0;
}

// The clock of a system whose counter of an unknown type has none.
PDH_STATUS WINAPI fake_time_base(PDH_HCOUNTER, LONGLONG* base) {
  if (reported_type == 0x12345678) return static_cast<PDH_STATUS>(PDH_INVALID_ARGUMENT);
  *base = 2'243'496;
  return 0;
}

TEST_F(Win32Discovery, CounterInfoFromTheReportedType) {
  w::syscalls().get_counter_info = fake_info;
  w::syscalls().get_counter_time_base = fake_time_base;
  struct Row {
    int line;
    DWORD type;
    perfdata::CounterKind kind;
    std::string unit;
  } rows[] = {
      {__LINE__, PERF_100NSEC_TIMER_INV, perfdata::CounterKind::percent, "%"},
      {__LINE__, PERF_COUNTER_BULK_COUNT, perfdata::CounterKind::rate, ""},
      {__LINE__, PERF_COUNTER_LARGE_RAWCOUNT, perfdata::CounterKind::gauge, "B"},
      {__LINE__, PERF_ELAPSED_TIME, perfdata::CounterKind::elapsed, "s"},
      {__LINE__, PERF_AVERAGE_TIMER, perfdata::CounterKind::average, "s"},
      {__LINE__, 0x12345678, perfdata::CounterKind::unknown, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    reported_type = row.type;
    perfdata::CounterInfo info;
    ASSERT_EQ(perfdata::get_counter_info(reinterpret_cast<perfdata::Counter>(1), &info), 0u);
    EXPECT_EQ(info.name, "Available Bytes");
    EXPECT_EQ(info.kind, row.kind);
    EXPECT_EQ(info.unit, row.unit);
    EXPECT_EQ(info.type, row.type);
    EXPECT_EQ(info.time_base, row.kind == perfdata::CounterKind::unknown ? 0 : 2'243'496);
    EXPECT_EQ(info.default_scale, -6);
  }
}

// The real calls on this system: under Wine 8 all three are missing and
// must come back as NOT_IMPLEMENTED rather than end the process.
TEST_F(Win32Discovery, RealCallsNeverCrash) {
  std::vector<std::string> list;
  perfdata::Status st = perfdata::enum_objects(&list);
  EXPECT_TRUE(st == 0 || st == perfdata::NOT_IMPLEMENTED) << std::hex << st;
  st = perfdata::expand_wildcard_path("\\Processor(*)\\% Processor Time", &list);
  EXPECT_TRUE(st == 0 || st == perfdata::NOT_IMPLEMENTED) << std::hex << st;
  std::vector<perfdata::CounterInfo> counters;
  st = perfdata::enum_object_items("Processor", &counters, &list);
  EXPECT_TRUE(st == 0 || st == perfdata::NOT_IMPLEMENTED) << std::hex << st;
}

}  // namespace
