// System counters: processes and threads from /proc/<pid>, context switches,
// up time and the run queue.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

using proc_tree::Reading;
using proc_tree::Tree;

constexpr uint32_t INVALID = perfdata::CSTATUS_INVALID_DATA;

// A /proc/<pid>/stat line with `threads` in field 20.
std::string stat_line(int pid, const std::string& comm, int threads) {
  return std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1 4194560 10 0 2 0 5 6 0 0 20 0 " +
         std::to_string(threads) + " 0 500 1000 100\n";
}

void write_machine(const Tree& t, const std::string& running) {
  t.write("proc/stat",
          "cpu 1 1 1 1\ncpu0 1 1 1 1\ncpu1 1 1 1 1\nintr 7\nctxt 100\nprocesses 9999\n"
          "procs_running " +
              running + "\nprocs_blocked 0\n");
  t.write("proc/uptime", "12345.67 2000.00\n");
  t.write("proc/100/stat", stat_line(100, "a) (b", 3));
  t.write("proc/200/stat", stat_line(200, "sh", 1));
  t.write("proc/300/status", "Name: gone\n");  // exited between readdir and the read
  t.write("proc/self/stat", stat_line(100, "a) (b", 3));
  t.write("proc/net/dev", "");
}

TEST(System, GaugesFromOneCollection) {
  struct Row {
    int line;
    std::string counter, running;
    double expected;
  } rows[] = {
      {__LINE__, "Processes", "1", 3.0},
      {__LINE__, "Threads", "1", 4.0},
      {__LINE__, "System Up Time", "1", 12345.67},
      {__LINE__, "Processor Queue Length", "5", 3.0},
      {__LINE__, "Processor Queue Length", "1", 0.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    write_machine(t, row.running);
    Reading r = proc_tree::sample_once(t, "\\System\\" + row.counter);
    ASSERT_EQ(r.add, 0u);
    EXPECT_EQ(r.c_status, 0u);
    EXPECT_DOUBLE_EQ(r.value, row.expected);
  }
}

// The program runs with the user's number locale loaded; a ',' locale must
// not change how the kernel's "12345.67" reads.
TEST(System, UpTimeReadsTheSameInACommaLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE.UTF-8";
  Tree t;
  write_machine(t, "1");
  Reading r = proc_tree::sample_once(t, "\\System\\System Up Time");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(r.c_status, 0u);
  EXPECT_DOUBLE_EQ(r.value, 12345.67);
}

TEST(System, ContextSwitchRateAndBrokenSources) {
  Tree t;
  write_machine(t, "1");
  Reading r = proc_tree::sample_twice(
      t, "\\System\\Context Switches/sec",
      [&] { t.write("proc/stat", "cpu 1 1 1 1\nctxt 300\nprocs_running 1\n"); }, 2.0);
  EXPECT_EQ(r.c_status, 0u);
  EXPECT_DOUBLE_EQ(r.value, 100.0);
  r = proc_tree::sample_twice(t, "\\System\\Context Switches/sec",
                              [&] { t.write("proc/stat", "cpu 1 1 1 1\nprocs_running 1\n"); });
  EXPECT_EQ(r.c_status, INVALID);
  t.write("proc/uptime", "soon\n");
  EXPECT_EQ(proc_tree::sample_once(t, "\\System\\System Up Time").c_status, INVALID);
  EXPECT_EQ(proc_tree::sample_once(t, "\\System(x)\\Processes").add, perfdata::CSTATUS_NO_INSTANCE);
}

}  // namespace
