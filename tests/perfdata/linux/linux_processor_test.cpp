// Processor: exact percentages from two /proc/stat snapshots, the value
// statuses of unusable intervals, interrupt columns mapped by their header.
#include <gtest/gtest.h>

#include <string>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

using proc_tree::Reading;
using proc_tree::Tree;

constexpr uint32_t INVALID = perfdata::CSTATUS_INVALID_DATA;

// Between the two snapshots: user 50 nice 10 system 20 idle 80 iowait 20
// irq 4 softirq 6 steal 10 (T = 200); guest and guest_nice grow too but are
// already inside user and nice.
const char* kStat1 =
    "cpu  1000 100 200 5000 300 40 60 100 77 11\n"
    "cpu0 500 50 100 2500 150 20 30 50 0 0\n"
    "cpu1 500 50 100 2500 150 20 30 50 0 0\n"
    "intr 5 0\nctxt 10\nprocs_running 2\n";
const char* kStat2 =
    "cpu  1050 110 220 5080 320 44 66 110 99 22\n"
    "cpu0 510 50 110 2580 145 20 30 50 0 0\n"
    "cpu1 540 60 110 2500 170 24 36 60 0 0\n"
    "intr 5 0\nctxt 10\nprocs_running 2\n";

TEST(Processor, ExactPercentagesOfTheTickDeltas) {
  struct Row {
    int line;
    std::string path;
    double expected;
  } rows[] = {
      {__LINE__, "\\Processor(_Total)\\% Processor Time",
       50.0},  // iowait counts as idle, steal as busy
      {__LINE__, "\\Processor(_Total)\\% User Time", 30.0},
      {__LINE__, "\\Processor(_Total)\\% Privileged Time", 15.0},
      {__LINE__, "\\Processor(_Total)\\% Interrupt Time", 2.0},
      {__LINE__, "\\Processor(_Total)\\% DPC Time", 3.0},
      {__LINE__, "\\Processor(_Total)\\% Idle Time", 50.0},
      // cpu0: 5 iowait ticks moved to idle; idle + iowait grew by 75, so
      // T = 10 + 10 + 75 = 95.
      {__LINE__, "\\Processor(0)\\% Processor Time", 100.0 * 20 / 95},
      {__LINE__, "\\Processor(0)\\% Idle Time", 100.0 * 75 / 95},
      // cpu1: T = 40+10+10+0+20+4+6+10 = 100.
      {__LINE__, "\\Processor(1)\\% Processor Time", 80.0},
      {__LINE__, "\\Processor(1)\\% User Time", 50.0},
      {__LINE__, "\\Processor(1)\\% Privileged Time", 20.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write("proc/stat", kStat1);
    Reading r = proc_tree::sample_twice(t, row.path, [&] { t.write("proc/stat", kStat2); });
    ASSERT_EQ(r.add, 0u);
    EXPECT_EQ(r.c_status, 0u);
    EXPECT_NEAR(r.value, row.expected, 1e-9);
  }
}

TEST(Processor, UnusableIntervalsAreInvalid) {
  struct Row {
    int line;
    std::string path;
    std::string second;  // /proc/stat at the second collection; "-" removes it
  } rows[] = {
      {__LINE__, "\\Processor(_Total)\\% Processor Time", kStat1},  // T = 0
      {__LINE__, "\\Processor(1)\\% Processor Time",                // CPU 1 went offline
       "cpu  1050 110 220 5080 320 44 66 110 99 22\ncpu0 510 50 110 2580 145 20 30 50 0 0\n"},
      {__LINE__, "\\Processor(1)\\% Processor Time", "cpu1 5 x 1 1\n"},  // malformed
      {__LINE__, "\\Processor(1)\\% Processor Time", "cpu1 5 1 1\n"},    // too few fields
      {__LINE__, "\\Processor(_Total)\\% Processor Time", "-"},
      // A field that went backwards: the counters were reset, which a
      // clamped delta would read as a busy (or idle) CPU.
      {__LINE__, "\\Processor(1)\\% Processor Time", "cpu1 600 50 200 2450 150 20 30 50 0 0\n"},
      {__LINE__, "\\Processor(1)\\% Idle Time", "cpu1 400 50 100 2600 150 20 30 50 0 0\n"},
      {__LINE__, "\\Processor(1)\\% User Time", "cpu1 500 50 100 2600 150 20 30 40 0 0\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write("proc/stat", kStat1);
    Reading r = proc_tree::sample_twice(t, row.path, [&] {
      if (row.second == "-") {
        t.remove("proc/stat");
      } else {
        t.write("proc/stat", row.second);
      }
    });
    ASSERT_EQ(r.add, 0u);
    EXPECT_EQ(r.c_status, INVALID);
  }
}

TEST(Processor, RatesNeedTwoSamplesAndTime) {
  Tree t;
  t.write("proc/stat", kStat1);
  EXPECT_EQ(proc_tree::sample_once(t, "\\Processor(_Total)\\% Processor Time").c_status, INVALID);
  // No time passed between the collections.
  Reading r = proc_tree::sample_twice(
      t, "\\Processor(_Total)\\% Processor Time", [&] { t.write("proc/stat", kStat2); }, 0.0);
  EXPECT_EQ(r.c_status, INVALID);
  // Before any collection.
  perfdata::linux_backend::Query q(t.env());
  perfdata::linux_backend::Counter* c = nullptr;
  ASSERT_EQ(q.add("\\Processor(_Total)\\% Processor Time", &c), 0u);
  EXPECT_EQ(c->format(perfdata::FMT_DOUBLE).c_status, INVALID);
}

TEST(Processor, ShortCpuLinesCountMissingFieldsAsZero) {
  Tree t;
  t.write("proc/stat", "cpu 10 0 10 80\ncpu0 10 0 10 80\n");
  Reading r = proc_tree::sample_twice(t, "\\Processor(0)\\% Processor Time", [&] {
    t.write("proc/stat", "cpu 20 0 20 140\ncpu0 20 0 20 140\n");
  });
  EXPECT_EQ(r.c_status, 0u);
  EXPECT_NEAR(r.value, 25.0, 1e-9);
}

TEST(Processor, InterruptColumnsFollowTheHeaderAcrossHotplug) {
  const char* before =
      "           CPU0       CPU1       CPU2\n"
      "  0:         10         20         30   IO-APIC   2-edge      timer\n"
      "  1:          1          2          3   IO-APIC   1-edge      i8042\n"
      "NMI:          0          0          0   Non-maskable interrupts\n"
      "ERR:          5\n"
      "MIS:          0\n";
  struct Row {
    int line;
    std::string path;
    std::string after;
    uint32_t status;
    double expected;
  } rows[] = {
      // CPU1 went offline: its column is gone and CPU2 moved left.
      {__LINE__, "\\Processor(2)\\Interrupts/sec",
       "      CPU0       CPU2\n  0:   15   40  IO-APIC timer\n  1:   1   8  IO-APIC i8042\nERR: "
       "9\n",
       0, 7.5},
      {__LINE__, "\\Processor(_Total)\\Interrupts/sec",
       "      CPU0  CPU1  CPU2\n  0:  20  20  40 timer\n  1:  1  2  8 i8042\nERR: 99\nMIS: 3\n", 0,
       12.5},
      {__LINE__, "\\Processor(1)\\Interrupts/sec",
       "      CPU0       CPU2\n  0:   15   40  IO-APIC timer\n", INVALID, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write("proc/stat", "cpu 1 1 1 1\ncpu0 1 1 1 1\ncpu1 1 1 1 1\ncpu2 1 1 1 1\n");
    t.write("proc/interrupts", before);
    Reading r = proc_tree::sample_twice(
        t, row.path, [&] { t.write("proc/interrupts", row.after); }, 2.0);
    proc_tree::expect_reading(r, row.status, row.expected, 1e-9);
  }
}

}  // namespace
