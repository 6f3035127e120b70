// The counter layer on ARM kernels' /proc layouts: interrupt rows named by
// controller (GICv3) and IPI number, the "Err:" total row of older arm64
// kernels, CPUs taken offline. The answers must be those of x86 layouts.
#include <gtest/gtest.h>

#include <string>

#include "proc_tree.h"

namespace {

// Four CPUs, CPU1 offline in both readings (/proc/stat leaves it out too).
const char* kStatOffline = "cpu  4 4 4 4\ncpu0 1 1 1 1\ncpu2 1 1 1 1\ncpu3 1 1 1 1\n";
const char* kQuadBefore =
    "           CPU0       CPU2       CPU3       \n"
    " 11:       1000       2000       3000     GICv3  27 Level     arch_timer\n"
    " 14:          5          0          0     GICv3  37 Level     ttyAMA0\n"
    " 47:        100          0          0     GICv3  78 Edge      virtio0\n"
    "IPI0:        10         20         30       Rescheduling interrupts\n"
    "IPI1:         1          2          3       Function call interrupts\n"
    "IPI5:         0          0          0       IRQ work interrupts\n"
    "Err:          0\n";
const char* kQuadAfter =
    "           CPU0       CPU2       CPU3       \n"
    " 11:       1100       2300       3000     GICv3  27 Level     arch_timer\n"
    " 14:          7          0          0     GICv3  37 Level     ttyAMA0\n"
    " 47:        110          0          0     GICv3  78 Edge      virtio0\n"
    "IPI0:        20         40         30       Rescheduling interrupts\n"
    "IPI1:         1          2          7       Function call interrupts\n"
    "IPI5:         0          0          0       IRQ work interrupts\n"
    "Err:          4\n";

// One CPU: the "Err:" row has as many values as the header has columns.
const char* kStatSingle = "cpu  1 1 1 1\ncpu0 1 1 1 1\n";
const char* kSingleBefore =
    "           CPU0       \n"
    " 11:       5000     GICv3  27 Level     arch_timer\n"
    "IPI0:         0       Rescheduling interrupts\n"
    "Err:          3\n";
const char* kSingleAfter =
    "           CPU0       \n"
    " 11:       5200     GICv3  27 Level     arch_timer\n"
    "IPI0:        40       Rescheduling interrupts\n"
    "Err:         13\n";

TEST(Aarch64Layouts, InterruptsPerSecond) {
  struct Row {
    int line;
    const char* stat;
    const char* before;
    const char* after;
    std::string path;
    double expected;  // over 2 seconds; Err never counts
  } rows[] = {
      {__LINE__, kStatOffline, kQuadBefore, kQuadAfter, "\\Processor(_Total)\\Interrupts/sec",
       (100 + 300 + 2 + 10 + 10 + 20 + 4) / 2.0},
      {__LINE__, kStatOffline, kQuadBefore, kQuadAfter, "\\Processor(0)\\Interrupts/sec",
       (100 + 2 + 10 + 10) / 2.0},
      {__LINE__, kStatOffline, kQuadBefore, kQuadAfter, "\\Processor(2)\\Interrupts/sec",
       (300 + 20) / 2.0},
      {__LINE__, kStatOffline, kQuadBefore, kQuadAfter, "\\Processor(3)\\Interrupts/sec", 2.0},
      {__LINE__, kStatSingle, kSingleBefore, kSingleAfter, "\\Processor(_Total)\\Interrupts/sec",
       (200 + 40) / 2.0},
      {__LINE__, kStatSingle, kSingleBefore, kSingleAfter, "\\Processor(0)\\Interrupts/sec",
       (200 + 40) / 2.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    proc_tree::Tree t;
    t.write("proc/stat", row.stat);
    t.write("proc/interrupts", row.before);
    proc_tree::Reading r = proc_tree::sample_twice(
        t, row.path, [&] { t.write("proc/interrupts", row.after); }, 2.0);
    proc_tree::expect_reading(r, 0, row.expected, 1e-9);
  }
  // The offline CPU is no instance at all.
  proc_tree::Tree t;
  t.write("proc/stat", kStatOffline);
  t.write("proc/interrupts", kQuadBefore);
  EXPECT_NE(proc_tree::sample_once(t, "\\Processor(1)\\Interrupts/sec").add, 0u);
}

}  // namespace
