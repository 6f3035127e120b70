// Counter arrays and the missing-object diagnosis of the Windows backend,
// against a model of a German system: its plain add knows German names, its
// English add English ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "perfdata/perfdata.h"
#include "perfdata/win32/syscalls.h"

namespace {

namespace w = perfdata::win32_backend;
using Names = std::vector<std::string>;

Names english, german = {"Prozessor", "Prozess"};  // the objects each add knows
int calls = 0;

template <const Names* objects>
PDH_STATUS WINAPI add(PDH_HQUERY, LPCSTR path, DWORD_PTR, PDH_HCOUNTER* c) {
  const std::string p(path + 1);
  *c = reinterpret_cast<PDH_HCOUNTER>(++calls);
  const bool known =
      std::count(objects->begin(), objects->end(), p.substr(0, p.find_first_of("(\\")));
  return known ? 0 : static_cast<PDH_STATUS>(PDH_CSTATUS_NO_OBJECT);
}

// The array as the system keeps it: the k-th call sees the k-th list (the
// last one stays); "Idle" reads INVALID_DATA; a value is the item's place.
std::vector<Names> lists;
DWORD seen_format = 0;
PDH_STATUS WINAPI model_array(PDH_HCOUNTER, DWORD format, LPDWORD size, LPDWORD count,
                              PPDH_FMT_COUNTERVALUE_ITEM_A items) {
  seen_format = format;
  const Names& names = lists[std::min<size_t>(calls++, lists.size() - 1)];
  DWORD need = static_cast<DWORD>(names.size() * sizeof *items);
  for (const std::string& n : names) need += static_cast<DWORD>(n.size() + 1);
  *count = static_cast<DWORD>(names.size());
  if (*size < need) return *size = need, static_cast<PDH_STATUS>(PDH_MORE_DATA);
  char* text = reinterpret_cast<char*>(items + names.size());
  for (size_t i = 0; i < names.size(); text += names[i++].size() + 1) {
    items[i].szName = std::strcpy(text, names[i].c_str());
    items[i].FmtValue = {names[i] == "Idle" ? PDH_CSTATUS_INVALID_DATA : 0, {}};
    items[i].FmtValue.doubleValue = static_cast<double>(i);
  }
  return 0;
}

struct Win32Array : ::testing::Test {
  w::SysCalls saved = w::syscalls();
  Win32Array() {
    w::syscalls().add_counter = add<&german>;
    w::syscalls().get_formatted_counter_array = model_array;
  }
  ~Win32Array() override { w::syscalls() = saved; }
};

TEST_F(Win32Array, EnglishPathsAddOnAGermanSystem) {
  const Names sound = {"Processor", "Process"};
  const perfdata::Status no_object = perfdata::CSTATUS_NO_OBJECT;
  // `says`: part of what describe_missing_object("process") says.
  auto row = [&](int line, bool has_english_add, const Names& objects, const char* path,
                 perfdata::Status status, const std::string& says) {
    SCOPED_TRACE(line);
    english = objects;
    w::syscalls().add_english_counter = has_english_add ? add<&english> : nullptr;
    calls = 0;
    perfdata::Counter c = nullptr;
    EXPECT_EQ(perfdata::add_array_counter(nullptr, path, &c), status);
    EXPECT_EQ(calls, status == perfdata::CSTATUS_BAD_COUNTERNAME ? 0 : 1);
    const std::string said = perfdata::describe_missing_object("process");
    EXPECT_TRUE(said.empty() == says.empty() && said.find(says) != std::string::npos) << said;
  };
  row(__LINE__, true, sound, "\\Process(svc*)\\Working Set", 0, "");
  row(__LINE__, false, sound, "\\Processor(*)\\% Processor Time", no_object, "");
  row(__LINE__, false, sound, "\\Prozessor(*)\\Prozessorzeit (%)", 0, "");
  row(__LINE__, true, sound, "\\Processor(*)\\*", perfdata::CSTATUS_BAD_COUNTERNAME, "");
  row(__LINE__, true, {}, "\\Process(*)\\ID Process", no_object, "lodctr /R");  // registry damaged
  row(__LINE__, true, {"Processor", "Process V2"}, "\\Process(*)\\ID Process", no_object,
      "\"Process V2\"");
}

TEST_F(Win32Array, ReadInTwoCallsWithNamesakesNumbered) {
  const uint32_t format = perfdata::FMT_DOUBLE | perfdata::FMT_NOCAP100;
  auto row = [&](int line, const std::vector<Names>& system, perfdata::Status status,
                 const std::string& want, int want_calls) {
    SCOPED_TRACE(line);
    lists = system;
    calls = 0;
    std::vector<perfdata::ArrayItem> items(1);
    EXPECT_EQ(perfdata::get_formatted_counter_array(reinterpret_cast<perfdata::Counter>(&calls),
                                                    format, &items),
              status);
    std::ostringstream got;
    for (const auto& i : items) got << i.name << '=' << i.value << '/' << i.c_status << ' ';
    EXPECT_EQ(got.str(), want);
    EXPECT_EQ(calls, want_calls);
    EXPECT_EQ(seen_format, format);
  };
  row(__LINE__, {{"svchost", "System", "svchost", "_Total", "SVCHOST", "Idle"}}, 0,
      "svchost=0/0 System=1/0 svchost#1=2/0 SVCHOST#2=4/0 Idle=5/3221228474 _Total=3/0 ", 2);
  row(__LINE__, {{"a"}, {"a", "b", "c"}}, 0, "a=0/0 b=1/0 c=2/0 ", 3);  // grew in between
  // Growing at every call: a bounded number of calls.
  row(__LINE__,
      {{"a"}, {"a", "b"}, {"a", "b", "c"}, {"a", "b", "c", "d"}, {"a", "b", "c", "d", "e"}},
      PDH_MORE_DATA, "", 5);
  row(__LINE__, {{}}, 0, "", 1);
}

// Under Wine the array read is a stub that ends the process: never called.
TEST(Win32ArrayReal, WineRefusesAtTheAdd) {
  if (!w::syscalls().enum_objects_is_stub) GTEST_SKIP() << "not Wine";
  perfdata::Counter c = nullptr;
  std::vector<perfdata::ArrayItem> items;
  EXPECT_EQ(perfdata::add_array_counter(nullptr, "\\Processor(*)\\% Idle Time", &c),
            perfdata::NOT_IMPLEMENTED);
  // The add gave no handle; any other one stands in, as the read never reaches the system.
  EXPECT_EQ(perfdata::get_formatted_counter_array(reinterpret_cast<perfdata::Counter>(&items),
                                                  perfdata::FMT_DOUBLE, &items),
            perfdata::NOT_IMPLEMENTED);
}

}  // namespace
