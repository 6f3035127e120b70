// Memory gauges and paging rates, and the Paging File object.
#include <gtest/gtest.h>

#include <string>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

using proc_tree::Reading;
using proc_tree::Tree;

constexpr uint32_t INVALID = perfdata::CSTATUS_INVALID_DATA;

const char* kMeminfo =
    "MemTotal:       16000000 kB\n"
    "MemFree:         1000000 kB\n"
    "MemAvailable:    4000000 kB\n"
    "Buffers:          100000 kB\n"
    "Cached:          2000000 kB\n"
    "SwapCached:            0 kB\n"
    "SwapTotal:       2000000 kB\n"
    "Dirty:              1000 kB\n"
    "Writeback:            24 kB\n"
    "SReclaimable:     300000 kB\n"
    "CommitLimit:    10000000 kB\n"
    "Committed_AS:    9000000 kB\n";

TEST(Memory, GaugesFromOneSnapshot) {
  struct Row {
    int line;
    std::string meminfo;     // empty: kMeminfo
    std::string overcommit;  // "-": file missing
    std::string counter;
    uint32_t status;
    double expected;
  } rows[] = {
      {__LINE__, "", "0\n", "Available Bytes", 0, 4096000000.0},
      {__LINE__, "", "0\n", "Available KBytes", 0, 4000000.0},
      {__LINE__, "", "0\n", "Available MBytes", 0, 3906.0},  // whole MB, floored
      {__LINE__, "", "0\n", "Committed Bytes", 0, 9216000000.0},
      {__LINE__, "", "0\n", "Commit Limit", 0, 18432000000.0},  // RAM + swap
      {__LINE__, "", "1\n", "Commit Limit", 0, 18432000000.0},
      {__LINE__, "", "-", "Commit Limit", 0, 18432000000.0},
      {__LINE__, "", "2\n", "Commit Limit", 0, 10240000000.0},  // enforced CommitLimit
      {__LINE__, "", "0\n", "% Committed Bytes In Use", 0, 50.0},
      {__LINE__, "", "2\n", "% Committed Bytes In Use", 0, 90.0},
      {__LINE__, "", "0\n", "Cache Bytes", 0, 2457600000.0},
      {__LINE__, "", "0\n", "Free & Zero Page List Bytes", 0, 1024000000.0},
      {__LINE__, "", "0\n", "Modified Page List Bytes", 0, 1048576.0},
      // Kernels without MemAvailable: free + buffers + cached.
      {__LINE__, "MemTotal: 8 kB\nMemFree: 1000 kB\nBuffers: 24 kB\nCached: 3000 kB\n", "0\n",
       "Available MBytes", 0, 3.0},
      {__LINE__, "MemTotal: 8 kB\nMemFree: 1000 kB\n", "0\n", "Available Bytes", INVALID, 0},
      // An estimate that is there but unreadable is not replaced by another quantity.
      {__LINE__, "MemFree: 10 kB\nMemAvailable: garbage kB\nBuffers: 1 kB\nCached: 2 kB\n", "0\n",
       "Available KBytes", INVALID, 0},
      {__LINE__, "MemFree: 10 kB\nMemAvailable:\nBuffers: 1 kB\nCached: 2 kB\n", "0\n",
       "Available KBytes", INVALID, 0},
      {__LINE__, "MemTotal: 8 kB\nMemFree: 1 kB\n", "0\n", "Committed Bytes", INVALID, 0},
      {__LINE__, "MemTotal: 0 kB\nSwapTotal: 0 kB\nCommitted_AS: 5 kB\n", "0\n",
       "% Committed Bytes In Use", INVALID, 0},
      {__LINE__, "MemTotal: x kB\n", "0\n", "Commit Limit", INVALID, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write("proc/meminfo", row.meminfo.empty() ? kMeminfo : row.meminfo);
    if (row.overcommit != "-") t.write("proc/sys/vm/overcommit_memory", row.overcommit);
    Reading r = proc_tree::sample_once(t, "\\Memory\\" + row.counter);
    proc_tree::expect_reading(r, row.status, row.expected);
  }
}

TEST(Memory, CommitAboveTheLimitIsCappedUnlessAskedNotTo) {
  Tree t;
  t.write("proc/meminfo", "MemTotal: 100 kB\nSwapTotal: 0 kB\nCommitted_AS: 300 kB\n");
  t.write("proc/sys/vm/overcommit_memory", "0\n");
  EXPECT_DOUBLE_EQ(proc_tree::sample_once(t, "\\Memory\\% Committed Bytes In Use").value, 100.0);
  EXPECT_DOUBLE_EQ(proc_tree::sample_once(t, "\\Memory\\% Committed Bytes In Use",
                                          perfdata::FMT_DOUBLE | perfdata::FMT_NOCAP100)
                       .value,
                   300.0);
  // Byte counts are never capped.
  EXPECT_DOUBLE_EQ(proc_tree::sample_once(t, "\\Memory\\Committed Bytes").value, 307200.0);
}

TEST(Memory, PagingRatesOverTwoSnapshots) {
  const char* before = "pgpgin 400\npgpgout 100\npswpin 7\npgfault 1000\npgmajfault 10\n";
  const char* after = "pgpgin 800\npgpgout 500\npswpin 9\npgfault 3000\npgmajfault 30\n";
  struct Row {
    int line;
    std::string counter;
    long page_size;
    std::string second;
    uint32_t status;
    double expected;
  } rows[] = {
      {__LINE__, "Page Faults/sec", 4096, after, 0, 1000.0},
      {__LINE__, "Page Reads/sec", 4096, after, 0, 10.0},
      {__LINE__, "Pages Input/sec", 4096, after, 0, 50.0},  // 400 KiB = 100 pages in 2 s
      {__LINE__, "Pages Output/sec", 4096, after, 0, 50.0},
      {__LINE__, "Pages/sec", 4096, after, 0, 100.0},
      {__LINE__, "Pages Input/sec", 65536, after, 0, 3.125},
      {__LINE__, "Pages/sec", 65536, after, 0, 6.25},
      {__LINE__, "Page Faults/sec", 4096, "pgpgin 800\npgfault 5\npgmajfault 30\n", INVALID,
       0},                                                                      // reset
      {__LINE__, "Pages/sec", 4096, "pgpgin 800\npgfault 3000\n", INVALID, 0},  // pgpgout missing
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write("proc/meminfo", kMeminfo);
    t.write("proc/vmstat", before);
    Reading r = proc_tree::sample_twice(
        t, "\\Memory\\" + row.counter, [&] { t.write("proc/vmstat", row.second); }, 2.0,
        perfdata::FMT_DOUBLE, row.page_size);
    proc_tree::expect_reading(r, row.status, row.expected);
  }
}

TEST(Memory, UnreadableSourceAtCollectIsInvalid) {
  Tree t;
  t.write("proc/meminfo", kMeminfo);
  perfdata::linux_backend::Query q(t.env());
  perfdata::linux_backend::Counter* c = nullptr;
  ASSERT_EQ(q.add("\\Memory\\Available Bytes", &c), 0u);
  // A directory in the file's place makes read() fail, as EACCES or EIO would.
  t.remove("proc/meminfo");
  t.write("proc/meminfo/x", "");
  q.collect();
  EXPECT_EQ(c->format(perfdata::FMT_DOUBLE).c_status, INVALID);
  t.remove("proc/meminfo");
  t.write("proc/meminfo", kMeminfo);
  q.collect();
  EXPECT_EQ(c->format(perfdata::FMT_DOUBLE).c_status, 0u);
}

TEST(Memory, MissingMeminfoIsNoObject) {
  Tree t;
  perfdata::linux_backend::Query q(t.env());
  EXPECT_EQ(q.add("\\Memory\\Available Bytes", nullptr), perfdata::CSTATUS_NO_OBJECT);
}

const char* kSwaps =
    "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
    "/dev/dm-1                               partition\t1000\t\t250\t\t-2\n"
    "/swap\\040file                           file\t\t3000\t\t0\t\t-3\n";

TEST(PagingFile, UsageOfEachAreaAndTheTotal) {
  struct Row {
    int line;
    std::string swaps;
    std::string instance;
    perfdata::Status add;
    uint32_t status;
    double expected;
  } rows[] = {
      {__LINE__, kSwaps, "_Total", 0, 0, 6.25},
      {__LINE__, kSwaps, "_dev_dm-1", 0, 0, 25.0},
      {__LINE__, kSwaps, "_swap file", 0, 0, 0.0},
      {__LINE__, kSwaps, "/dev/dm-1", perfdata::CSTATUS_NO_INSTANCE, 0, 0},
      // No swap: no instances at all, not even _Total.
      {__LINE__, "Filename\tType\tSize\tUsed\tPriority\n", "_Total", perfdata::CSTATUS_NO_INSTANCE,
       0, 0},
      {__LINE__, "Filename Type Size Used Priority\n/z partition 0 0 -2\n", "_z", 0, INVALID, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write("proc/swaps", row.swaps);
    Reading r = proc_tree::sample_once(t, "\\Paging File(" + row.instance + ")\\% Usage");
    ASSERT_EQ(r.add, row.add);
    if (row.add == 0) {
      EXPECT_EQ(r.c_status, row.status);
      if (row.status == 0) {
        EXPECT_DOUBLE_EQ(r.value, row.expected);
      }
    }
  }
}

TEST(PagingFile, SwapoffBetweenCollectionsIsInvalid) {
  Tree t;
  t.write("proc/swaps", kSwaps);
  Reading r = proc_tree::sample_twice(t, "\\Paging File(_dev_dm-1)\\% Usage", [&] {
    t.write("proc/swaps", "Filename Type Size Used Priority\n/swap\\040file file 3000 0 -3\n");
  });
  ASSERT_EQ(r.add, 0u);
  EXPECT_EQ(r.c_status, INVALID);
}

}  // namespace
