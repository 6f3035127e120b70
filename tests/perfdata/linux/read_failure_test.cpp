// Reads that fail, injected beneath the whole-file reader: a source that is
// there but cannot be read is reported as what happened, never as an absent
// object or a value one sample cannot give; interrupted and short reads
// still deliver the whole file.
#include <cerrno>
#include <string>
#include <vector>

#include "platform/file_calls.h"
#include "tests/perfdata/linux/proc_tree.h"

namespace {

namespace lb = perfdata::linux_backend;
using proc_tree::Tree;

platform::FileCalls real;
std::string failing;  // opens of a path ending so fail with `failure`
int failure = 0;
int interruptions = 0;  // reads left to fail with EINTR
size_t most = 0;        // when non-zero: no read hands out more bytes

int open_read(const char* path, intptr_t* handle) {
  const std::string p = path;
  if (!failing.empty() && p.size() >= failing.size() &&
      p.compare(p.size() - failing.size(), failing.size(), failing) == 0)
    return failure;
  return real.open_read(path, handle);
}

int read(intptr_t handle, char* data, size_t size, size_t* done) {
  if (interruptions > 0) {
    --interruptions;
    *done = 0;
    return EINTR;
  }
  return real.read(handle, data, most != 0 && size > most ? most : size, done);
}

class ReadFailure : public testing::Test {
 protected:
  void SetUp() override {
    real = platform::file_calls;
    platform::file_calls.open_read = open_read;
    platform::file_calls.read = read;
    failing.clear();
    interruptions = 0;
    most = 0;
  }
  void TearDown() override { platform::file_calls = real; }
};

void write_proc(const Tree& t, int pid, uint64_t utime = 5) {
  const std::string dir = "proc/" + std::to_string(pid) + "/";
  t.write(dir + "stat", std::to_string(pid) + " (p" + std::to_string(pid) +
                            ") S 1 1 1 0 -1 0 0 0 0 0 " + std::to_string(utime) +
                            " 5 0 0 20 0 1 0 100 9000 25 0 0 0 0 0 0\n");
  t.write(dir + "io", "rchar: 1\nwchar: 0\nsyscr: 0\nsyscw: 0\n");
}

void write_sources(const Tree& t) {
  t.write("proc/stat", "cpu  1 0 1 10 0 0 0 0\ncpu0 1 0 1 10 0 0 0 0\nctxt 5\nprocs_running 1\n");
  t.write("proc/uptime", "100.0 50.0\n");
  t.write("proc/meminfo", "MemTotal: 100 kB\nMemFree: 50 kB\nMemAvailable: 60 kB\n");
  for (int pid : {10, 11}) write_proc(t, pid);
}

// An add whose object's source cannot be opened: NO_OBJECT as for an
// absent source (the probe's contract), but with the reason.
TEST_F(ReadFailure, AddsSayWhyTheSourceCouldNotBeRead) {
  struct Row {
    int line;
    std::string path, file;
    int error;
    perfdata::Status status;
    std::string problem;
  } rows[] = {
      {__LINE__, "\\Processor(_Total)\\% Processor Time", "/proc/stat", EMFILE,
       perfdata::CSTATUS_NO_OBJECT, "cannot read /proc/stat: Too many open files"},
      {__LINE__, "\\Processor(*)\\% Processor Time", "/proc/stat", ENFILE,
       perfdata::CSTATUS_NO_OBJECT, "cannot read /proc/stat: Too many open files in system"},
      {__LINE__, "\\Processor(_Total)\\% Processor Time", "/proc/stat", ENOENT,
       perfdata::CSTATUS_NO_OBJECT, ""},
      {__LINE__, "\\Memory\\Available Bytes", "/proc/meminfo", EACCES, perfdata::CSTATUS_NO_OBJECT,
       "cannot read /proc/meminfo: Permission denied"},
      // A process whose stat fails otherwise than by its end is no ended process.
      {__LINE__, "\\Process(p10)\\ID Process", "/proc/11/stat", EIO, perfdata::CSTATUS_NO_OBJECT,
       "cannot read /proc/11/stat: Input/output error"},
      {__LINE__, "\\Process(p10)\\ID Process", "/proc/11/stat", ENOENT, 0, ""},
      {__LINE__, "\\Process(p11)\\ID Process", "/proc/11/stat", ENOENT,
       perfdata::CSTATUS_NO_INSTANCE, ""},
      // hidepid: another user's process is not visible, not a failure.
      {__LINE__, "\\Process(p10)\\ID Process", "/proc/11/stat", EACCES, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    write_sources(t);
    failing = row.file;
    failure = row.error;
    lb::Query q(t.env());
    const bool array = row.path.find('*') != std::string::npos;
    EXPECT_EQ(array ? q.add_array(row.path, nullptr) : q.add(row.path, nullptr), row.status);
    EXPECT_EQ(q.add_problem(), row.problem);
  }
}

// A source that fails at a collection after a good add: the value, or the
// array, carries the reason; a reset says so.
TEST_F(ReadFailure, ValuesSayWhatHappened) {
  struct Row {
    int line;
    std::string path, file;  // `file` fails (with EMFILE) from the second collection
    std::string meminfo;     // rewritten before the second collection when set
    std::string detail;
  } rows[] = {
      {__LINE__, "\\Processor(_Total)\\% Processor Time", "/proc/stat", "",
       "cannot read /proc/stat: Too many open files"},
      {__LINE__, "\\System\\Context Switches/sec", "/proc/stat", "",
       "cannot read /proc/stat: Too many open files"},
      {__LINE__, "\\Process(p10)\\IO Read Bytes/sec", "/proc/10/io", "",
       "cannot read /proc/10/io: Too many open files"},
      {__LINE__, "\\Process(*)\\ID Process", "/proc/11/stat", "",
       "cannot read /proc/11/stat: Too many open files"},
      {__LINE__, "\\Memory\\Available Bytes", "", "MemAvailable: -5 kB\n",
       "/proc/meminfo: MemAvailable is negative"},
      {__LINE__, "\\Memory\\Available Bytes", "", "MemAvailable: 99999999999999999999 kB\n",
       "/proc/meminfo: MemAvailable does not fit in 64 bits"},
      {__LINE__, "\\Processor(0)\\% Processor Time", "", "", "counter was reset"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    failing.clear();
    Tree t;
    write_sources(t);
    lb::Query q(t.env());
    lb::Counter* c = nullptr;
    const bool array = row.path.find('*') != std::string::npos;
    ASSERT_EQ(array ? q.add_array(row.path, &c) : q.add(row.path, &c), 0u);
    q.collect();
    failing = row.file;
    failure = EMFILE;
    if (!row.meminfo.empty()) t.write("proc/meminfo", row.meminfo);
    t.write("proc/stat", "cpu  2 0 2 20 0 0 0 0\ncpu0 2 0 2 9 0 0 0 0\nctxt 6\nprocs_running 1\n");
    t.advance(1);
    q.collect();
    EXPECT_EQ(c->failure_detail(), row.detail);
    if (!array) {
      EXPECT_EQ(c->format(perfdata::FMT_DOUBLE).c_status, perfdata::CSTATUS_INVALID_DATA);
    }
  }
}

// Reads cut short (at most 16 KiB, or 16 KiB less one byte, at a time) or
// interrupted by a signal still give the whole file: the last CPU of a
// /proc/stat larger than 16 KiB is there.
TEST_F(ReadFailure, ShortAndInterruptedReadsGiveTheWholeFile) {
  std::string stat = "cpu  1 0 1 10 0 0 0 0\n";
  const int cpus = 2000;
  for (int i = 0; i < cpus; ++i) stat += "cpu" + std::to_string(i) + " 1 0 1 10 0 0 0 0\n";
  ASSERT_GT(stat.size(), 16384u * 2);
  for (const auto& [cut, interrupted] : {std::pair<size_t, int>{16384, 0}, {16383, 0}, {0, 3}}) {
    SCOPED_TRACE(cut);
    Tree t;
    t.write("proc/stat", stat);
    most = cut;
    interruptions = interrupted;
    lb::Query q(t.env());
    EXPECT_EQ(q.add("\\Processor(" + std::to_string(cpus - 1) + ")\\% Idle Time", nullptr), 0u);
    EXPECT_EQ(interruptions, 0);
  }
}

}  // namespace
