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
    "\\Worker(web)\\Handles\t0\t0\t7\tgauge\t\t\t2\n"
    // Raw series: a 32-bit count that wraps at the second collection, on a
    // 2,243,496 Hz clock; a 64-bit one that is reset at the third.
    "\\Worker(web)\\Requests/sec\t0\t0\t0\t\t\t\t1\t0x10410400\t2243496\t4294967200\t0\t0\n"
    "\\Worker(web)\\Requests/sec\t0\t0\t0\t\t\t\t2-\t0x10410400\t2243496\t104\t200\t4486992"
    "\t2243496\n"
    "\\Worker(_Total)\\Requests/sec\t0\t0\t0\t\t\t\t1-2\t0x10410500\t10000000\t1000\t500\t0"
    "\t10000000\n"
    "\\Worker(_Total)\\Requests/sec\t0\t0\t0\t\t\t\t3-\t0x10410500\t10000000\t10\t0\t20000000"
    "\t0\n";

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

TEST_F(Table, RawColumnsGiveTheRecordsAndTheValues) {
  char name[16];
  uint32_t size = sizeof name;
  ASSERT_TRUE(perfdata::get_computer_name(name, &size));
  const std::string web_path = "\\\\" + std::string(name, size) + "\\Worker(web)\\Requests/sec";
  perfdata::Query q = nullptr;
  ASSERT_EQ(perfdata::open_query(&q), 0u);
  perfdata::Counter array = nullptr, web = nullptr;
  ASSERT_EQ(perfdata::add_array_counter(q, "\\Worker(*)\\Requests/sec", &array), 0u);
  ASSERT_EQ(perfdata::add_counter(q, web_path.c_str(), &web), 0u);
  const char* want[][2] = {
      {"web=4294967200/0@10000000 _Total=1000/0@10000000 ", ""},
      {"web=104/4486992@20000000 _Total=1500/10000000@20000000 ", "web=100/0 _Total=500/0 "},
      {"web=304/6730488@30000000 _Total=10/20000000@30000000 ", "web=200/0 _Total=0/3221228474 "}};
  perfdata::RawCounter raw[4];
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    ASSERT_EQ(perfdata::collect_query_data(q), 0u);
    ASSERT_EQ(perfdata::get_raw_counter_value(web, &raw[n]), 0u);
    std::vector<perfdata::RawArrayItem> raws;
    std::vector<perfdata::ArrayItem> items;
    ASSERT_EQ(perfdata::get_raw_counter_array(array, &raws), 0u);
    ASSERT_EQ(perfdata::get_formatted_counter_array(array, perfdata::FMT_DOUBLE, &items), 0u);
    std::ostringstream got_raw, got;
    for (const auto& i : raws)
      got_raw << i.name << '=' << i.raw.first_value << '/' << i.raw.second_value << '@'
              << i.raw.time_stamp << ' ';
    for (const auto& i : items) got << i.name << '=' << i.value << '/' << i.c_status << ' ';
    EXPECT_EQ(got_raw.str(), want[n - 1][0]);
    EXPECT_EQ(got.str(), want[n - 1][1]);
  }
  // Over the whole time: 400 requests (across the wrap) in 3 s.
  perfdata::CounterValue v;
  ASSERT_EQ(perfdata::calculate_counter_from_raw(web, 0, &raw[3], &raw[1], &v), 0u);
  EXPECT_DOUBLE_EQ(v.value, 400.0 / 3);
  perfdata::close_query(q);
}

}  // namespace
