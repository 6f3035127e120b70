// The counter sampler against a scripted performance-data service: the
// service's calls are defined here, so every status and value is chosen by
// the test and every call is recorded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/counter_sampler.h"
#include "number_text/number_settings.h"

// This scripted service's handles: one query, one counter.
struct perfdata::QueryHandle {};
struct perfdata::CounterHandle {};

namespace {

struct Script {
  perfdata::Status add_status = 0;
  perfdata::Status read_status = 0;
  bool read_fills = true;
  perfdata::CounterValue value{0, 0.0};
  std::string host = "HOST";
  std::vector<std::string> calls;
  std::string added_path;
};
Script script;

perfdata::QueryHandle query_token;
perfdata::CounterHandle counter_token;

}  // namespace

namespace perfdata {
Status open_query(Query* query) {
  script.calls.push_back("open");
  *query = &query_token;
  return 0;
}
Status add_counter(Query query, const char* full_path, Counter* counter) {
  script.calls.push_back(query == &query_token ? "add" : "add(bad query)");
  script.added_path = full_path;
  *counter = &counter_token;
  return script.add_status;
}
Status collect_query_data(Query) {
  script.calls.push_back("collect");
  return 0;
}
Status get_formatted_counter_value(Counter counter, uint32_t format, CounterValue* value) {
  script.calls.push_back(counter == &counter_token && format == FMT_DOUBLE ? "read" : "read(bad)");
  if (script.read_fills) *value = script.value;
  return script.read_status;
}
Status close_query(Query query) {
  script.calls.push_back(query == &query_token ? "close" : "close(bad query)");
  return 0;
}
bool get_computer_name(char* buffer, uint32_t* size) {
  if (*size != 16) return false;
  std::snprintf(buffer, 16, "%s", script.host.c_str());
  *size = static_cast<uint32_t>(script.host.size());
  return true;
}
void sleep_ms(uint32_t milliseconds) {
  script.calls.push_back("sleep " + std::to_string(milliseconds));
}
}  // namespace perfdata

namespace {

const std::vector<std::string> kFullSequence = {"open",    "add",  "collect", "sleep 1000",
                                                "collect", "read", "close"};
const std::vector<std::string> kAddFailed = {"open", "add", "close"};

struct Row {
  int line;
  perfdata::Status add_status;
  perfdata::Status read_status;
  bool read_fills;
  perfdata::CounterValue value;
  const char* expected;
  const std::vector<std::string>* calls;
};

TEST(SampleCounter, ResultFormsAndCallSequence) {
  const Row rows[] = {
      {__LINE__, 0, 0, true, {0, 0.5}, "0.50000", &kFullSequence},
      {__LINE__, 0, 0, true, {0, 12.345678}, "12.34568", &kFullSequence},
      {__LINE__, 0, 0, true, {1, 100.0}, "100.00000", &kFullSequence},  // new data is usable
      {__LINE__, 0, 0, true, {2, 55.0}, "\\Obj\\Ctr - ERROR: 0x00000000", &kFullSequence},
      {__LINE__,
       0,
       0,
       true,
       {perfdata::CSTATUS_INVALID_DATA, 55.0},
       "\\Obj\\Ctr - ERROR: 0x00000000",
       &kFullSequence},
      {__LINE__,
       perfdata::CSTATUS_NO_OBJECT,
       0,
       true,
       {0, 1.0},
       "\\Obj\\Ctr - ERROR: 0xC0000BB8",
       &kAddFailed},
      {__LINE__,
       perfdata::CSTATUS_NO_INSTANCE,
       0,
       true,
       {0, 1.0},
       "\\Obj\\Ctr - ERROR: 0x800007D1",
       &kAddFailed},
      {__LINE__,
       perfdata::CSTATUS_ITEM_NOT_VALIDATED,
       0,
       true,
       {0, 1.0},
       "\\Obj\\Ctr - ERROR: ITEM_NOT_VALIDATED",
       &kAddFailed},
      // A formatted read that fails and leaves the record untouched must not
      // pass the stale record off as the valid value 0.00000.
      {__LINE__,
       0,
       perfdata::INVALID_HANDLE,
       false,
       {0, 0.0},
       "\\Obj\\Ctr - ERROR: 0xC0000BBC",
       &kFullSequence},
      {__LINE__,
       0,
       perfdata::CSTATUS_INVALID_DATA,
       false,
       {0, 0.0},
       "\\Obj\\Ctr - ERROR: 0xC0000BBA",
       &kFullSequence},
  };
  number_settings = NumberSettings{};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    script = Script{};
    script.add_status = row.add_status;
    script.read_status = row.read_status;
    script.read_fills = row.read_fills;
    script.value = row.value;
    EXPECT_EQ(sample_counter("\\Obj\\Ctr"), row.expected);
    EXPECT_EQ(script.calls, *row.calls);
    EXPECT_EQ(script.added_path, "\\\\HOST\\Obj\\Ctr");
  }
}

TEST(SampleCounter, UsesLocaleDecimalSeparator) {
  number_settings = NumberSettings{};
  number_settings.decimal_separator = ',';
  script = Script{};
  script.value = {0, 0.5};
  EXPECT_EQ(sample_counter("\\Memory\\Available Bytes"), "0,50000");
  number_settings = NumberSettings{};
}

TEST(SampleCounter, ComputerNameIsCutToWhatTheCallReports) {
  script = Script{};
  script.host = "ABCDEFGHIJKLMNO";  // 15 bytes, the most a name holds
  EXPECT_EQ(perfdata::local_path("\\A\\B"), "\\\\ABCDEFGHIJKLMNO\\A\\B");
  script.host = "";
  EXPECT_EQ(perfdata::local_path("\\A\\B"), "\\\\\\A\\B");
}

TEST(SampleErrorText, StatusAsEightHexDigits) {
  EXPECT_EQ(sample_error_text("\\A\\B", 0), "\\A\\B - ERROR: 0x00000000");
  EXPECT_EQ(sample_error_text("\\A\\B", 0xC0000BC0), "\\A\\B - ERROR: 0xC0000BC0");
  EXPECT_EQ(sample_error_text("\\A\\B", 0x800007D3), "\\A\\B - ERROR: ITEM_NOT_VALIDATED");
}

}  // namespace
