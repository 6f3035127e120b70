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
  EXPECT_EQ(state_key({"a"}), "529a4ddc8ff56bbf");
  EXPECT_EQ(state_key({"\\Processor(_Total)\\% Processor Time", "-s", "1"}), "6a1b6d360384c218");
  EXPECT_NE(state_key({"ab", "c"}), state_key({"a", "bc"}));
}

TEST(SampleState, RoundTripsAndEveryTruncationIsRefused) {
  const std::string text = write_sample_state(sample());
  SampleState back;
  std::string why;
  ASSERT_TRUE(parse_sample_state(text, &back, &why)) << why;
  EXPECT_EQ(write_sample_state(back), text);
  EXPECT_EQ(back.counters[0].instances[1].identity.name, "odd %name\n\t");
  EXPECT_EQ(back.counters[1].instances[0].identity.start_time, 99887766u);
  EXPECT_EQ(back.counters[0].instances[1].raw.first_value, -4);
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
      {__LINE__, edit("name 0 5", "name 4294967296 5"), "line 6: expected an instance's"},
      {__LINE__, edit("%25name", "%zzname"), "line 7: expected an instance's"},
      {__LINE__, edit("%25name", "%41name"), "line 7: expected an instance's"},
      {__LINE__, edit("process 812", "thread 812"), "line 9: expected 'name' or 'process'"},
      {__LINE__, good + "x", "line 11: text after end"},
      {__LINE__, edit("counter 0x21510500", "bogus"), "line 5: expected 'name'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    SampleState state;
    std::string why;
    EXPECT_FALSE(parse_sample_state(row.text, &state, &why));
    EXPECT_EQ(why.substr(0, row.why.size()), row.why);
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
  EXPECT_EQ(find_instance(state.counters[0], {"_Total", true, 0, 0}), nullptr);
}

TEST(SampleState, JudgementOfAStoredSample) {
  constexpr uint32_t kTimer = TYPE_100NSEC_TIMER_INV;
  const SampleContext then{"boot-a", 100 * kSecond, kTimer, kSecond};
  const RawCounter old{0, 100 * kSecond, 1000, 100 * kSecond, 1};
  const RawCounter now{0, 400 * kSecond, 2000, 400 * kSecond, 1};
  const auto at = [&](std::string_view boot, int64_t collected, uint32_t type, int64_t base) {
    return SampleContext{boot, collected, type, base};
  };
  const RawCounter wrapped32{0, 400 * kSecond, 5, 400 * kSecond, 1};
  const RawCounter old32{0, 100 * kSecond, 0xFFFFFFF0, 100 * kSecond, 1};
  const struct {
    int line;
    SampleContext then;
    const RawCounter* stored;
    SampleContext today;
    RawCounter newer;
    Use use;
    std::string why;
  } rows[] = {
      {__LINE__, then, &old, at("boot-a", 400 * kSecond, kTimer, kSecond), now, Use::pair, ""},
      {__LINE__, then, nullptr, at("boot-a", 400 * kSecond, kTimer, kSecond), now, Use::baseline,
       "no stored sample"},
      {__LINE__, then, &old, at("boot-b", 400 * kSecond, kTimer, kSecond), now, Use::baseline,
       "stored in another boot"},
      {__LINE__, then, &old, at("boot-a", 99 * kSecond, kTimer, kSecond), now, Use::baseline,
       "stored sample is from the future"},
      {__LINE__,
       then,
       &old,
       at("boot-a", 400 * kSecond, kTimer, kSecond),
       {0, 99 * kSecond, 2000, 400 * kSecond, 1},
       Use::baseline,
       "stored sample is from the future"},
      {__LINE__, then, &old, at("boot-a", 5000 * kSecond, kTimer, kSecond), now, Use::baseline,
       "stored sample is 4900 s old, more than 3600 s"},
      {__LINE__, then, &old, at("boot-a", 400 * kSecond, TYPE_100NSEC_TIMER, kSecond), now,
       Use::baseline, "counter type changed from 0x21510500 to 0x20510500"},
      {__LINE__, then, &old, at("boot-a", 400 * kSecond, kTimer, 1000), now, Use::baseline,
       "time base changed from 10000000 to 1000"},
      {__LINE__,
       then,
       &old,
       at("boot-a", 400 * kSecond, kTimer, kSecond),
       {CSTATUS_INVALID_DATA, 400 * kSecond, 2000, 400 * kSecond, 1},
       Use::baseline,
       "today's record is not valid"},
      {__LINE__,
       then,
       &old,
       at("boot-a", 100 * kSecond, kTimer, kSecond),
       {0, 100 * kSecond + 999999, 1001, 100 * kSecond + 999999, 1},
       Use::too_soon,
       "window of 99 ms is under 100 ms"},
      {__LINE__,
       then,
       &old,
       at("boot-a", 400 * kSecond, kTimer, kSecond),
       {0, 400 * kSecond, 999, 400 * kSecond, 1},
       Use::baseline,
       "a value went down"},
      {__LINE__, at("boot-a", 100 * kSecond, TYPE_COUNTER_COUNTER, kSecond), &old32,
       at("boot-a", 400 * kSecond, TYPE_COUNTER_COUNTER, kSecond), wrapped32, Use::pair, ""},
      {__LINE__, at("boot-a", 100 * kSecond, TYPE_COUNTER_BULK_COUNT, kSecond), &old32,
       at("boot-a", 400 * kSecond, TYPE_COUNTER_BULK_COUNT, kSecond), wrapped32, Use::baseline,
       "a value went down, not by a 32-bit wrap"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const Judgement judged =
        judge_stored_sample(row.then, row.stored, row.today, row.newer, 3600 * kSecond);
    EXPECT_EQ(judged.use, row.use);
    EXPECT_EQ(judged.reason.substr(0, row.why.size()), row.why);
    EXPECT_EQ(judged.reason.empty(), row.use == Use::pair);
  }
}

}  // namespace
