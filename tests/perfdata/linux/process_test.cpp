// Process against fixture trees: names and duplicates, pinning to
// (pid, starttime), CPU percentages, unreadable io files and _Total.
#include <string>
#include <vector>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

using perfdata::linux_backend::Counter;
using perfdata::linux_backend::Query;
using proc_tree::Tree;

constexpr uint32_t kInvalid = perfdata::CSTATUS_INVALID_DATA;
constexpr uint32_t kNoInstance = perfdata::CSTATUS_NO_INSTANCE;

struct Proc {
  int pid;
  std::string comm;
  uint64_t utime = 0, stime = 0, start = 1000;
  int threads = 1;
  uint64_t faults = 0;
  uint64_t rss_pages = 100;  // stat field 24; status VmRSS says otherwise
  bool io = true;            // false: no io file, as when the kernel refuses it
  uint64_t rchar = 0;
  int fds = 2;
};

void write_proc(const Tree& t, const Proc& p) {
  std::string dir = "proc/" + std::to_string(p.pid) + "/";
  t.write(dir + "stat", std::to_string(p.pid) + " (" + p.comm + ") S 1 1 1 0 -1 0 " +
                            std::to_string(p.faults) + " 0 0 0 " + std::to_string(p.utime) + " " +
                            std::to_string(p.stime) + " 0 0 20 0 " + std::to_string(p.threads) +
                            " 0 " + std::to_string(p.start) + " 9000000 " +
                            std::to_string(p.rss_pages) + " 0 0 0 0 0 0\n");
  t.write(dir + "status", "Name:\t" + p.comm +
                              "\nVmPeak:\t 900 kB\nVmSize:\t 800 kB\nVmHWM:\t 300 kB\n" +
                              "VmRSS:\t " + std::to_string(p.rss_pages + 1) +
                              " kB\nRssAnon:\t 40 kB\n" + "VmData:\t 60 kB\nVmStk:\t 4 kB\n");
  t.remove(dir + "io");
  if (p.io)
    t.write(dir + "io", "rchar: " + std::to_string(p.rchar) + "\nwchar: 0\nsyscr: 0\nsyscw: 0\n");
  t.remove(dir + "fd");
  for (int i = 0; i < p.fds; ++i) t.write(dir + "fd/" + std::to_string(i), "");
}

void write_system(const Tree& t, uint64_t idle, uint64_t iowait,
                  const char* uptime = "1000.50 1900.00\n") {
  t.write("proc/stat", "cpu  10 0 10 " + std::to_string(idle) + " " + std::to_string(iowait) +
                           " 0 0 0 0 0\ncpu0 5 0 5 1 1 0 0 0 0 0\nctxt 1\n");
  t.write("proc/uptime", uptime);
}

struct Row {
  int line;
  std::string path;
  uint32_t flags;
  uint32_t status;
  double value;
};

// Adds the rows, collects, applies `change`, advances 2 s, collects, checks.
template <class Change>
void run_rows(const Tree& t, const std::vector<Row>& rows, Change change) {
  Query q(t.env());
  std::vector<Counter*> counters;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Counter* c = nullptr;
    ASSERT_EQ(q.add(row.path, &c), 0u) << row.path;
    counters.push_back(c);
  }
  q.collect();
  change();
  t.advance(2.0);
  q.collect();
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].line);
    perfdata::linux_backend::FormattedValue v = counters[i]->format(rows[i].flags);
    EXPECT_EQ(v.c_status, rows[i].status) << rows[i].path;
    if (rows[i].status == 0) {
      EXPECT_NEAR(v.value, rows[i].value, 1e-9) << rows[i].path;
    }
  }
}

TEST(Process, InstanceNamesAndDuplicates) {
  Tree t;
  write_system(t, 100, 0);
  write_proc(t, {.pid = 42, .comm = "a) (b"});
  write_proc(t, {.pid = 43, .comm = "kworker/0:0-ev"});
  // Namesakes are ordered by start time, then PID, whatever the PID order.
  write_proc(t, {.pid = 300, .comm = "dup", .start = 500});
  write_proc(t, {.pid = 302, .comm = "dup", .start = 100});
  write_proc(t, {.pid = 301, .comm = "DUP", .start = 100});
  write_proc(t, {.pid = 50, .comm = "systemd-journal"});
  write_proc(t, {.pid = 60, .comm = "_Total"});
  write_proc(t, {.pid = 61, .comm = "Idle"});
  t.write("proc/self/status", "not a pid\n");
  struct Case {
    int line;
    std::string instance;
    uint32_t status;
    double pid;
  };
  const std::vector<Case> cases = {
      {__LINE__, "a] [b", 0, 42},
      {__LINE__, "a) (b", kNoInstance, 0},
      {__LINE__, "kworker_0:0-ev", 0, 43},
      {__LINE__, "dup", 0, 302},  // the exact name wins over the group's first
      {__LINE__, "dup#0", 0, 302},
      {__LINE__, "DUP", 0, 301},
      {__LINE__, "Dup", 0, 301},  // no exact name: the group's first
      {__LINE__, "dup#1", 0, 302},
      {__LINE__, "DUP#2", 0, 300},
      {__LINE__, "dup#3", kNoInstance, 0},
      {__LINE__, "systemd-journald", 0, 50},  // comm is cut to 15 bytes
      {__LINE__, "systemd-journ", kNoInstance, 0},
      {__LINE__, "_Total", 0, 0},
      {__LINE__, "_Total#1", 0, 60},
      {__LINE__, "Idle", 0, 0},
      {__LINE__, "idle#1", 0, 61},
      {__LINE__, "self", kNoInstance, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Query q(t.env());
    Counter* counter = nullptr;
    ASSERT_EQ(q.add("\\Process(" + c.instance + ")\\ID Process", &counter), c.status);
    if (c.status != 0) continue;
    q.collect();
    perfdata::linux_backend::FormattedValue v = counter->format(perfdata::FMT_DOUBLE);
    EXPECT_EQ(v.c_status, 0u);
    EXPECT_EQ(v.value, c.pid);
  }
}

TEST(Process, CountersOfOneProcess) {
  Tree t;
  write_system(t, 1000, 50);
  write_proc(t, {.pid = 100,
                 .comm = "worker",
                 .utime = 10,
                 .stime = 5,
                 .start = 5000,
                 .threads = 4,
                 .faults = 7,
                 .rss_pages = 100,
                 .rchar = 1000,
                 .fds = 3});
  write_proc(t, {.pid = 200, .comm = "locked", .utime = 1, .io = false});
  const uint32_t cap = perfdata::FMT_DOUBLE, nocap = perfdata::FMT_DOUBLE | perfdata::FMT_NOCAP100;
  // In 2 s at 100 ticks/s: worker used 200 user and 100 system ticks on
  // several CPUs (150 %), the CPUs idled 300 + 20 ticks.
  const std::vector<Row> rows = {
      {__LINE__, "\\Process(worker)\\% Processor Time", nocap, 0, 150},
      {__LINE__, "\\Process(worker)\\% Processor Time", cap, 0, 100},
      {__LINE__, "\\Process(worker)\\% User Time", nocap, 0, 100},
      {__LINE__, "\\Process(worker)\\% Privileged Time", nocap, 0, 50},
      {__LINE__, "\\Process(worker)\\Page Faults/sec", cap, 0, 10},
      {__LINE__, "\\Process(worker)\\IO Read Bytes/sec", cap, 0, 2000},
      {__LINE__, "\\Process(worker)\\Working Set", cap, 0, 200 * 4096},
      {__LINE__, "\\Process(worker)\\Working Set Peak", cap, 0, 300 * 1024},
      {__LINE__, "\\Process(worker)\\Working Set - Private", cap, 0, 40 * 1024},
      {__LINE__, "\\Process(worker)\\Private Bytes", cap, 0, 64 * 1024},
      {__LINE__, "\\Process(worker)\\Virtual Bytes", cap, 0, 800 * 1024},
      {__LINE__, "\\Process(worker)\\Virtual Bytes Peak", cap, 0, 900 * 1024},
      {__LINE__, "\\Process(worker)\\Thread Count", cap, 0, 4},
      {__LINE__, "\\Process(worker)\\Handle Count", cap, 0, 5},
      {__LINE__, "\\Process(worker)\\Creating Process ID", cap, 0, 1},
      {__LINE__, "\\Process(worker)\\Elapsed Time", cap, 0, 1002.5 - 50},
      {__LINE__, "\\Process(Idle)\\% Processor Time", nocap, 0, 160},
      {__LINE__, "\\Process(Idle)\\% User Time", nocap, 0, 0},
      {__LINE__, "\\Process(Idle)\\Elapsed Time", cap, 0, 1002.5},
      // No io file: only the IO counters of that process are lost.
      {__LINE__, "\\Process(locked)\\IO Read Bytes/sec", cap, kInvalid, 0},
      {__LINE__, "\\Process(locked)\\IO Write Operations/sec", cap, kInvalid, 0},
      {__LINE__, "\\Process(locked)\\% Processor Time", cap, 0, 0},
      {__LINE__, "\\Process(locked)\\Working Set", cap, 0, 100 * 4096},
  };
  run_rows(t, rows, [&] {
    write_system(t, 1300, 70, "1002.50 1900.00\n");
    write_proc(t, {.pid = 100,
                   .comm = "worker",
                   .utime = 210,
                   .stime = 105,
                   .start = 5000,
                   .threads = 4,
                   .faults = 27,
                   .rss_pages = 200,
                   .rchar = 5000,
                   .fds = 5});
  });
}

TEST(Process, ExitAndReuse) {
  struct Case {
    int line;
    bool remove;
    uint64_t new_start;
    uint32_t status;
  };
  const std::vector<Case> cases = {
      {__LINE__, false, 5000, 0},
      {__LINE__, true, 0, kInvalid},      // exited
      {__LINE__, false, 9000, kInvalid},  // PID reused by a newer process
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Tree t;
    write_system(t, 0, 0);
    write_proc(t, {.pid = 100, .comm = "job", .utime = 10, .start = 5000});
    run_rows(t,
             {{c.line, "\\Process(job)\\% Processor Time", perfdata::FMT_DOUBLE, c.status, 5},
              {c.line, "\\Process(job)\\Working Set", perfdata::FMT_DOUBLE, c.status, 100 * 4096}},
             [&] {
               if (c.remove)
                 t.remove("proc/100");
               else
                 write_proc(t, {.pid = 100, .comm = "job", .utime = 20, .start = c.new_start});
             });
  }
}

// Between the collections A runs 50 ticks, B exits, C starts and runs 30
// ticks, the CPUs idle 100 ticks. Summing first and differencing after would
// subtract B's whole lifetime.
TEST(Process, TotalWithStartAndExit) {
  Tree t;
  write_system(t, 1000, 0);
  write_proc(t, {.pid = 100,
                 .comm = "a",
                 .utime = 100,
                 .start = 10,
                 .threads = 2,
                 .rss_pages = 10,
                 .rchar = 10});
  write_proc(t, {.pid = 200,
                 .comm = "b",
                 .utime = 900,
                 .start = 20,
                 .threads = 3,
                 .rss_pages = 20,
                 .rchar = 90});
  write_proc(t, {.pid = 400, .comm = "d", .utime = 1, .start = 30, .rss_pages = 1, .io = false});
  const uint32_t nocap = perfdata::FMT_DOUBLE | perfdata::FMT_NOCAP100;
  const std::vector<Row> rows = {
      {__LINE__, "\\Process(_Total)\\% Processor Time", nocap, 0,
       100.0 * (50 + 30 + 100) / 100 / 2},
      {__LINE__, "\\Process(_Total)\\% Processor Time", perfdata::FMT_DOUBLE, 0, 90},
      {__LINE__, "\\Process(_Total)\\% User Time", nocap, 0, 100.0 * 80 / 100 / 2},
      // d has no io file: it adds nothing; C counts its whole 40 bytes.
      {__LINE__, "\\Process(_Total)\\IO Read Bytes/sec", nocap, 0, (5 + 40) / 2.0},
      {__LINE__, "\\Process(_Total)\\Working Set", nocap, 0, (10 + 1 + 30) * 4096.0},
      {__LINE__, "\\Process(_Total)\\Thread Count", nocap, 0, 2 + 1 + 5},
      {__LINE__, "\\Process(_Total)\\Handle Count", nocap, 0, 6},
      {__LINE__, "\\Process(_Total)\\ID Process", nocap, 0, 0},
  };
  run_rows(t, rows, [&] {
    write_system(t, 1100, 0);
    write_proc(t, {.pid = 100,
                   .comm = "a",
                   .utime = 150,
                   .start = 10,
                   .threads = 2,
                   .rss_pages = 10,
                   .rchar = 15});
    t.remove("proc/200");
    write_proc(t, {.pid = 300,
                   .comm = "c",
                   .utime = 30,
                   .start = 150,
                   .threads = 5,
                   .rss_pages = 30,
                   .rchar = 40});
  });
}

// A count that went backwards for the same process, or the CPUs' idle ticks
// going back, is a reset: the sum must not skip it and read low or high.
TEST(Process, CountsThatGoBackwardsAreInvalid) {
  struct Case {
    int line;
    std::string path;
    uint64_t utime, idle;  // at the second collection (first: 100, 1000)
  };
  const std::vector<Case> cases = {
      {__LINE__, "\\Process(_Total)\\% Processor Time", 90, 1100},
      {__LINE__, "\\Process(_Total)\\% User Time", 90, 1100},
      {__LINE__, "\\Process(Idle)\\% Processor Time", 150, 950},
      {__LINE__, "\\Process(_Total)\\% Processor Time", 150, 950},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Tree t;
    write_system(t, 1000, 0);
    write_proc(t, {.pid = 100, .comm = "a", .utime = 100, .start = 10});
    run_rows(t, {{c.line, c.path, perfdata::FMT_DOUBLE, kInvalid, 0}}, [&] {
      write_system(t, c.idle, 0);
      write_proc(t, {.pid = 100, .comm = "a", .utime = c.utime, .start = 10});
    });
  }
}

TEST(Process, NoProcDirectory) {
  Tree t;
  Query q(t.env());
  t.remove("proc");
  EXPECT_EQ(q.add("\\Process(_Total)\\% Processor Time", nullptr), perfdata::CSTATUS_NO_OBJECT);
}

}  // namespace
