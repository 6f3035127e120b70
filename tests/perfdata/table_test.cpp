// Discovery over the test build's counter table: objects, counters and
// instances come from the rows a path can add, with their extra columns.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "perfdata/perfdata.h"
#include "tests/support/test_support.h"

namespace {

// The table is read once per process, so every case shares this one.
const char kTable[] =
    "# path\tadd\tvalue status\tvalue\tkind\tunit\texplanation\n"
    "\\Processor(_Total)\\% Processor Time\t0\t0\t12.5\tpercent\t%\tBusy share\n"
    "\\Processor(0)\\% Processor Time\t0\t0\t10\n"
    "\\Process(svchost)\\ID Process\t0\t0\t4\tgauge\n"
    "\\Process(svchost#1)\\ID Process\t0\t0\t8\tgauge\n"
    "\\Process(svchost#1)\\Handle Count\t0\t0\t8\n"
    "\\Memory\\Available Bytes\t0\t0\t1e9\tgauge\tB\tFree memory\n"
    "\\Missing(x)\\Y\t0xC0000BB8\t0\t0\n"
    // Instances that come, go and fail between collections (the last column).
    "\\Worker(_Total)\\% Busy\t0\t0\t250\tpercent\t%\n"
    "\\Worker(web)\\% Busy\t0\t0\t120\tpercent\t%\t\t1-2\n"
    "\\Worker(WEB#1)\\% Busy\t0\t0\t-5\tpercent\t%\t\t2-\n"
    "\\Worker(db)\\% Busy\t0\t0\t40\tpercent\t%\t\t1-2\n"
    "\\Worker(db)\\% Busy\t0\t0xC0000BBA\t40\tpercent\t%\t\t3-\n"
    "\\Worker(web)\\Handles\t0\t0\t7\tgauge\t\t\t2\n";

class Table : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FILE* f = std::fopen("table_test_counters.txt", "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(kTable, f);
    std::fclose(f);
    test_support::set_environment("VANTRIC_SIM_COUNTERS", "table_test_counters.txt");
  }
};

TEST_F(Table, ObjectsCountersAndInstances) {
  std::vector<std::string> objects;
  ASSERT_EQ(perfdata::enum_objects(&objects), 0u);
  EXPECT_EQ(objects, (std::vector<std::string>{"Processor", "Process", "Memory", "Worker"}));

  struct Row {
    int line;
    const char* object;
    perfdata::Status status;
    std::vector<std::string> counters, instances;
  } rows[] = {
      {__LINE__, "process", 0, {"ID Process", "Handle Count"}, {"svchost", "svchost#1"}},
      {__LINE__, "Memory", 0, {"Available Bytes"}, {}},
      {__LINE__, "Missing", perfdata::CSTATUS_NO_OBJECT, {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<perfdata::CounterInfo> counters;
    std::vector<std::string> instances;
    EXPECT_EQ(perfdata::enum_object_items(row.object, &counters, &instances), row.status);
    std::vector<std::string> names;
    for (const perfdata::CounterInfo& c : counters) names.push_back(c.name);
    EXPECT_EQ(names, row.counters);
    EXPECT_EQ(instances, row.instances);
  }
}

TEST_F(Table, Expansion) {
  struct Row {
    int line;
    const char* pattern;
    perfdata::Status status;
    std::vector<std::string> paths;
  } rows[] = {
      {__LINE__,
       "\\Processor(*)\\% Processor Time",
       0,
       {"\\Processor(_Total)\\% Processor Time", "\\Processor(0)\\% Processor Time"}},
      {__LINE__,
       "\\process(SVCHOST*)\\id*",
       0,
       {"\\Process(svchost)\\ID Process", "\\Process(svchost#1)\\ID Process"}},
      {__LINE__,
       "\\Process(svchost#1)\\*",
       0,
       {"\\Process(svchost#1)\\ID Process", "\\Process(svchost#1)\\Handle Count"}},
      {__LINE__, "\\Memory\\*", 0, {"\\Memory\\Available Bytes"}},
      {__LINE__, "\\Worker(db)\\*", 0, {"\\Worker(db)\\% Busy"}},  // two rows, one path
      {__LINE__, "\\Processor(9*)\\*", 0, {}},
      {__LINE__, "\\Nothing(*)\\*", perfdata::CSTATUS_NO_OBJECT, {}},
      {__LINE__, "Processor(*)\\*", perfdata::CSTATUS_BAD_COUNTERNAME, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<std::string> paths;
    EXPECT_EQ(perfdata::expand_wildcard_path(row.pattern, &paths), row.status);
    EXPECT_EQ(paths, row.paths);
  }
}

TEST_F(Table, CounterInfoFromTheExtraColumns) {
  char name[16];
  uint32_t size = sizeof name;
  ASSERT_TRUE(perfdata::get_computer_name(name, &size));
  const std::string machine = "\\\\" + std::string(name, size);
  perfdata::Query q = nullptr;
  ASSERT_EQ(perfdata::open_query(&q), 0u);
  struct Row {
    int line;
    std::string path;
    perfdata::CounterKind kind;
    std::string unit, explanation;
  } rows[] = {
      {__LINE__, "\\Processor(_Total)\\% Processor Time", perfdata::CounterKind::percent, "%",
       "Busy share"},
      {__LINE__, "\\Processor(0)\\% Processor Time", perfdata::CounterKind::unknown, "", ""},
      {__LINE__, "\\Memory\\Available Bytes", perfdata::CounterKind::gauge, "B", "Free memory"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    perfdata::Counter c = nullptr;
    ASSERT_EQ(perfdata::add_english_counter(q, (machine + row.path).c_str(), &c), 0u);
    perfdata::CounterInfo info;
    ASSERT_EQ(perfdata::get_counter_info(c, &info), 0u);
    EXPECT_EQ(info.kind, row.kind);
    EXPECT_EQ(info.unit, row.unit);
    EXPECT_EQ(info.explanation, row.explanation);
  }
  perfdata::close_query(q);
}

TEST_F(Table, ArraysFollowTheInstancesOfEachCollection) {
  perfdata::Query q = nullptr;
  ASSERT_EQ(perfdata::open_query(&q), 0u);
  perfdata::Counter busy = nullptr, handles = nullptr;
  ASSERT_EQ(perfdata::add_array_counter(q, "\\worker(*)\\% BUSY", &busy), 0u);
  ASSERT_EQ(perfdata::add_array_counter(q, "\\Worker(*)\\Handles", &handles), 0u);
  const uint32_t cap = perfdata::FMT_DOUBLE, nocap = cap | perfdata::FMT_NOCAP100;
  int collections = 0;
  auto check = [&](int line, int n, perfdata::Counter c, uint32_t format, perfdata::Status status,
                   const std::string& want) {
    SCOPED_TRACE(line);
    for (; collections < n; ++collections) ASSERT_EQ(perfdata::collect_query_data(q), 0u);
    std::vector<perfdata::ArrayItem> items(1);
    EXPECT_EQ(perfdata::get_formatted_counter_array(c, format, &items), status);
    std::ostringstream got;
    for (const auto& i : items) got << i.name << '=' << i.value << '/' << i.c_status << ' ';
    EXPECT_EQ(got.str(), want);
  };
  check(__LINE__, 0, busy, cap, perfdata::CSTATUS_INVALID_DATA, "");
  check(__LINE__, 1, busy, cap, 0, "");  // a percent needs two collections
  check(__LINE__, 2, busy, cap, 0, "web=100/0 db=40/0 _Total=100/0 ");
  check(__LINE__, 2, busy, nocap, 0, "web=120/0 db=40/0 _Total=250/0 ");
  check(__LINE__, 2, handles, cap, 0, "web=7/0 ");  // a gauge new at this collection
  check(__LINE__, 3, busy, nocap, 0, "WEB#1=-5/0 db=40/3221228474 _Total=250/0 ");
  perfdata::close_query(q);
}

}  // namespace
