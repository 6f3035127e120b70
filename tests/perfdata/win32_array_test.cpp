// Counter arrays and the missing-object diagnosis of the Windows backend,
// against a model of a German system: the plain add and the expansion know
// only German names, the English add knows English ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "perfdata/perfdata.h"
#include "perfdata/win32/syscalls.h"

namespace {

namespace w = perfdata::win32_backend;
using Names = std::vector<std::string>;

Names english;  // the objects the English add knows
int calls = 0;

PDH_STATUS add_if_known(const Names& objects, LPCSTR path, PDH_HCOUNTER* c) {
  ++calls;
  const std::string p(path + 1);
  *c = reinterpret_cast<PDH_HCOUNTER>(1);
  const bool known =
      std::count(objects.begin(), objects.end(), p.substr(0, p.find_first_of("(\\")));
  return known ? 0 : static_cast<PDH_STATUS>(PDH_CSTATUS_NO_OBJECT);
}
PDH_STATUS WINAPI german_add(PDH_HQUERY, LPCSTR path, DWORD_PTR, PDH_HCOUNTER* c) {
  return add_if_known({"Prozessor", "Prozess"}, path, c);
}
PDH_STATUS WINAPI english_add(PDH_HQUERY, LPCSTR path, DWORD_PTR, PDH_HCOUNTER* c) {
  return add_if_known(english, path, c);
}
PDH_STATUS WINAPI german_expand(LPCSTR, LPCSTR path, LPSTR, LPDWORD, DWORD) {
  return std::strncmp(path, "\\Prozess", 9) == 0 ? 0 : PDH_CSTATUS_NO_OBJECT;
}

// The array as the system keeps it: one instance list per call (the last
// one stays), growing by one more name per call when `endless`; "Idle" reads
// INVALID_DATA; an item's value is its place in the system's order.
std::vector<Names> lists;
bool endless = false;
DWORD seen_format = 0;
PDH_STATUS WINAPI model_array(PDH_HCOUNTER, DWORD format, LPDWORD size, LPDWORD count,
                              PPDH_FMT_COUNTERVALUE_ITEM_A items) {
  seen_format = format;
  Names names = lists[std::min<size_t>(calls, lists.size() - 1)];
  if (endless) names.resize(names.size() + calls, "new");
  ++calls;
  DWORD need = static_cast<DWORD>(names.size() * sizeof *items);
  for (const std::string& n : names) need += static_cast<DWORD>(n.size() + 1);
  *count = static_cast<DWORD>(names.size());
  if (*size < need) {
    *size = need;
    return static_cast<PDH_STATUS>(PDH_MORE_DATA);
  }
  char* text = reinterpret_cast<char*>(items + names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    items[i].szName = std::strcpy(text, names[i].c_str());
    text += names[i].size() + 1;
    items[i].FmtValue.CStatus = names[i] == "Idle" ? PDH_CSTATUS_INVALID_DATA : 0;
    items[i].FmtValue.doubleValue = static_cast<double>(i);
  }
  return 0;
}

class Win32Array : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = w::syscalls();
    w::syscalls().add_counter = german_add;
    w::syscalls().expand_wildcard_path = german_expand;
    w::syscalls().get_formatted_counter_array = model_array;
    calls = 0;
  }
  void TearDown() override { w::syscalls() = saved_; }
  w::SysCalls saved_{};
};

TEST_F(Win32Array, EnglishPathsAddOnAGermanSystem) {
  const Names sound = {"Processor", "Process"};
  struct Row {
    int line;
    bool has_english_add;
    Names english;
    std::string path;
    perfdata::Status status;
    std::string missing_process;  // what describe_missing_object("Process") says, in part
  } rows[] = {
      {__LINE__, true, sound, "\\Process(svc*)\\Working Set", 0, ""},
      {__LINE__, false, sound, "\\Processor(*)\\% Processor Time", perfdata::CSTATUS_NO_OBJECT, ""},
      {__LINE__, false, sound, "\\Prozessor(*)\\Prozessorzeit (%)", 0, ""},
      {__LINE__, true, sound, "\\Processor(*)\\*", perfdata::CSTATUS_BAD_COUNTERNAME, ""},
      // The registry is damaged: no object at all.
      {__LINE__, true, {}, "\\Process(*)\\ID Process", perfdata::CSTATUS_NO_OBJECT, "lodctr /R"},
      {__LINE__,
       true,
       {"Processor", "Process V2"},
       "\\Process(*)\\ID Process",
       perfdata::CSTATUS_NO_OBJECT,
       "\"Process V2\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    english = row.english;
    w::syscalls().add_english_counter = row.has_english_add ? english_add : nullptr;
    calls = 0;
    perfdata::Counter c = nullptr;
    EXPECT_EQ(perfdata::add_array_counter(nullptr, row.path.c_str(), &c), row.status);
    EXPECT_EQ(calls, row.status == perfdata::CSTATUS_BAD_COUNTERNAME ? 0 : 1);
    const std::string said = perfdata::describe_missing_object("process");
    EXPECT_EQ(said.empty(), row.missing_process.empty()) << said;
    EXPECT_NE(said.find(row.missing_process), std::string::npos) << said;
  }
  // Expansion knows only the system's language.
  Names paths;
  EXPECT_EQ(perfdata::expand_wildcard_path("\\Processor(*)\\% Processor Time", &paths),
            perfdata::CSTATUS_NO_OBJECT);
}

std::string text_of(const std::vector<perfdata::ArrayItem>& items) {
  std::ostringstream out;
  for (const perfdata::ArrayItem& i : items)
    out << i.name << '=' << i.value << '/' << i.c_status << ' ';
  return out.str();
}

TEST_F(Win32Array, ReadInTwoCallsWithNamesakesNumbered) {
  struct Row {
    int line;
    std::vector<Names> lists;
    bool endless;
    perfdata::Status status;
    std::string items;
    int calls;
  } rows[] = {
      {__LINE__,
       {{"svchost", "System", "svchost", "_Total", "SVCHOST", "Idle"}},
       false,
       0,
       "svchost=0/0 System=1/0 svchost#1=2/0 SVCHOST#2=4/0 Idle=5/3221228474 _Total=3/0 ",
       2},
      // Instances started between the size query and the read.
      {__LINE__, {{"a"}, {"a", "b", "c"}}, false, 0, "a=0/0 b=1/0 c=2/0 ", 3},
      {__LINE__, {{"a"}}, true, PDH_MORE_DATA, "", 5},  // never settles: bounded
      {__LINE__, {{}}, false, 0, "", 1},
  };
  const uint32_t format = perfdata::FMT_DOUBLE | perfdata::FMT_NOCAP100;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    lists = row.lists;
    endless = row.endless;
    calls = 0;
    std::vector<perfdata::ArrayItem> items(1);
    EXPECT_EQ(perfdata::get_formatted_counter_array(&calls, format, &items), row.status);
    EXPECT_EQ(text_of(items), row.items);
    EXPECT_EQ(calls, row.calls);
    EXPECT_EQ(seen_format, format);
  }
}

// The real calls: under Wine the array read is a stub that would end the
// process, so the add must refuse before it is ever called.
TEST(Win32ArrayReal, ReadsOrRefusesAtTheAdd) {
  perfdata::Query q = nullptr;
  ASSERT_EQ(perfdata::open_query(&q), 0u);
  perfdata::Counter c = nullptr;
  const perfdata::Status st = perfdata::add_array_counter(q, "\\Processor(*)\\% Idle Time", &c);
  std::vector<perfdata::ArrayItem> items;
  if (st == perfdata::NOT_IMPLEMENTED) {
    EXPECT_EQ(perfdata::get_formatted_counter_array(&c, perfdata::FMT_DOUBLE, &items), st);
  } else {
    ASSERT_EQ(st, 0u);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(perfdata::collect_query_data(q), 0u);
    EXPECT_EQ(perfdata::get_formatted_counter_array(c, perfdata::FMT_DOUBLE, &items), 0u);
    EXPECT_EQ(items.back().name, "_Total");
  }
  perfdata::close_query(q);
}

}  // namespace
