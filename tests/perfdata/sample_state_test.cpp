#include "perfdata/sample_state.h"

#include <gtest/gtest.h>

#include "perfdata/counter_types.h"

namespace {

using namespace perfdata;

constexpr int64_t kSecond = 10000000;

SampleState sample() {
  SampleState state{
      state_key({"\\Processor(*)\\% Processor Time", "-s", "1"}), "4b1c-boot", 7 * kSecond, {}};
  state.counters.push_back({"\\Processor(*)\\% Processor Time",
                            TYPE_100NSEC_TIMER_INV,
                            kSecond,
                            {{{"_Total", false, 0, 0}, {0, 5 * kSecond, 1000, 5000, 1}},
                             {{"odd %name\n\t", false, 0, 0}, {1, -3, -4, 9, 2}}}});
  state.counters.push_back({"\\Process(*)\\IO Read Operations/sec",
                            TYPE_COUNTER_BULK_COUNT,
                            1000,
                            {{{"svchost#1", true, 812, 99887766}, {0, 6, 7, 8, 1}}}});
  state.counters.push_back({"\\Memory\\Available Bytes", TYPE_COUNTER_LARGE_RAWCOUNT, 0, {}});
  return state;
}

TEST(SampleState, KeyIsFnv1aOverLengthPrefixedParts) {
  EXPECT_EQ(state_key({}), "cbf29ce484222325");
  EXPECT_EQ(state_key({"\\Processor(_Total)\\% Processor Time", "-s", "1"}), "6a1b6d360384c218");
  EXPECT_NE(state_key({"ab", "c"}), state_key({"a", "bc"}));
}

TEST(SampleState, RoundTripsAndEveryTruncationIsRefused) {
  const std::string text = write_sample_state(sample());
  SampleState back;
  std::string why;
  ASSERT_TRUE(parse_sample_state(text, &back, &why)) << why;
  EXPECT_EQ(write_sample_state(back), text);  // every field written is read back
  for (size_t size = 0; size < text.size(); ++size) {
    SampleState kept = back;
    why.clear();
    EXPECT_FALSE(parse_sample_state(text.substr(0, size), &kept, &why)) << size;
    EXPECT_FALSE(why.empty()) << size;
    EXPECT_EQ(write_sample_state(kept), text) << size;  // untouched on failure
  }
}

TEST(SampleState, DamageGivesTheReason) {
  const std::string good = write_sample_state(sample());
  const auto edit = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    return text.replace(text.find(from), from.size(), to);
  };
  const struct {
    int line;
    std::string text;
    std::string why;
  } rows[] = {
      {__LINE__, "GIF89a\n\x01\x02", "not a state file (first line \"GIF89a\")"},
      {__LINE__, edit("state 1", "state 2"), "version 2 is not read by this version"},
      {__LINE__, edit("key ", "key 0"), "line 2: expected key and 16 hex digits"},
      {__LINE__, edit("boot 4b1c-boot", "boot "), "line 3: expected boot"},
      {__LINE__, edit("collected 7", "collected 07"), "line 4: expected collected"},
      {__LINE__, edit("0x21510500", "0x2151050"), "line 5: expected a counter type 0x"},
      {__LINE__, edit("name 0 5", "name 0 x5"), "line 6: expected an instance's"},
      {__LINE__, edit("process 812", "thread 812"), "line 9: expected 'name' or 'process'"},
      {__LINE__, good + "x", "line 11: text after end"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    SampleState state;
    std::string why;
    EXPECT_TRUE(!parse_sample_state(row.text, &state, &why) && why.rfind(row.why, 0) == 0) << why;
  }
}

TEST(SampleState, InstancesKeepTheirIdentity) {
  const SampleState state = sample();
  const StoredCounter& processes = state.counters[1];
  EXPECT_NE(find_instance(processes, {"svchost#2", true, 812, 99887766}), nullptr);  // renumbered
  EXPECT_EQ(find_instance(processes, {"svchost#1", true, 813, 99887766}), nullptr);  // new pid
  EXPECT_EQ(find_instance(processes, {"svchost#1", true, 812, 99887767}), nullptr);  // pid reused
  EXPECT_EQ(find_instance(processes, {"svchost#1", false, 0, 0}), nullptr);
  EXPECT_EQ(find_instance(state.counters[0], {"_Total", false, 0, 0}),
            &state.counters[0].instances[0]);
}

constexpr uint32_t kTimer = TYPE_100NSEC_TIMER_INV;
constexpr RawCounter kOld{0, 100 * kSecond, 1000, 100 * kSecond, 1};
constexpr RawCounter kOld32{0, 100 * kSecond, 0xFFFFFFF0, 100 * kSecond, 1};

// Stored at 100 s in boot-a, judged at 400 s, unless a row edits it.
struct Case {
  const RawCounter* stored = &kOld;
  RawCounter newer = {0, 400 * kSecond, 2000, 400 * kSecond, 1};
  std::string_view boot = "boot-a";
  int64_t collected = 400 * kSecond;
  uint32_t stored_type = kTimer, type = kTimer;
  int64_t time_base = kSecond;
};

// A 32-bit count that wrapped from 0xFFFFFFF0 to 5, as a counter of `type`.
void wrapped(Case& c, uint32_t type) {
  c.stored = &kOld32, c.newer.first_value = 5, c.stored_type = c.type = type;
}

TEST(SampleState, JudgementOfAStoredSample) {
  const struct {
    int line;
    void (*edit)(Case&);
    Use use;
    std::string why;
  } rows[] = {
      {__LINE__, [](Case&) {}, Use::pair, ""},
      {__LINE__, [](Case& c) { c.stored = nullptr; }, Use::baseline, "no stored sample"},
      {__LINE__, [](Case& c) { c.boot = "boot-b"; }, Use::baseline, "stored in another boot"},
      {__LINE__, [](Case& c) { c.collected = 99 * kSecond; }, Use::baseline,
       "stored sample is from the future"},
      {__LINE__, [](Case& c) { c.newer.time_stamp = 99 * kSecond; }, Use::baseline,
       "stored sample is from the future"},
      {__LINE__, [](Case& c) { c.collected = 5000 * kSecond; }, Use::baseline,
       "stored sample is 4900 s old, more than 3600 s"},
      {__LINE__, [](Case& c) { c.type = TYPE_100NSEC_TIMER; }, Use::baseline,
       "counter type changed from 0x21510500 to 0x20510500"},
      {__LINE__, [](Case& c) { c.time_base = 1000; }, Use::baseline,
       "time base changed from 10000000 to 1000"},
      {__LINE__, [](Case& c) { c.newer.c_status = CSTATUS_INVALID_DATA; }, Use::baseline,
       "today's record is not valid"},
      {__LINE__,
       [](Case& c) {
         c.newer = {0, kOld.time_stamp + 999999, 1001, kOld.second_value + 999999, 1};
       },
       Use::too_soon, "window of 99 ms is under 100 ms"},
      {__LINE__, [](Case& c) { c.newer.first_value = 999; }, Use::baseline, "a value went down"},
      {__LINE__, [](Case& c) { wrapped(c, TYPE_COUNTER_COUNTER); }, Use::pair, ""},
      {__LINE__, [](Case& c) { wrapped(c, TYPE_COUNTER_BULK_COUNT); }, Use::baseline,
       "a value went down, not by a 32-bit wrap"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    Case c;
    row.edit(c);
    const Judgement judged =
        judge_stored_sample({"boot-a", 100 * kSecond, c.stored_type, kSecond}, c.stored,
                            {c.boot, c.collected, c.type, c.time_base}, c.newer, 3600 * kSecond);
    EXPECT_EQ(judged.use, row.use);
    EXPECT_EQ(judged.reason.substr(0, row.why.size()), row.why);
    EXPECT_EQ(judged.reason.empty(), row.use == Use::pair);
  }
}

}  // namespace
