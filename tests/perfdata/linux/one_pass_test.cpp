// One pass per object and collection: how often each source is opened,
// whatever the number of counters and instances; array counters across
// instances that start, end, fail and change their name; names that must
// stay addressable.
#include <map>
#include <string>
#include <vector>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

namespace lb = perfdata::linux_backend;
using proc_tree::Tree;

constexpr uint32_t kInvalid = perfdata::CSTATUS_INVALID_DATA;

void write_proc(const Tree& t, int pid, const std::string& comm, uint64_t start, uint64_t rchar,
                bool io = true) {
  const std::string dir = "proc/" + std::to_string(pid) + "/";
  t.write(dir + "stat", std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1 0 0 0 0 0 5 5 0 0 " +
                            "20 0 1 0 " + std::to_string(start) + " 9000 25 0 0 0 0 0 0\n");
  t.write(dir + "status", "VmRSS:\t " + std::to_string(pid) + " kB\n");
  t.remove(dir + "io");
  if (io)
    t.write(dir + "io", "rchar: " + std::to_string(rchar) + "\nwchar: 0\nsyscr: 0\nsyscw: 0\n");
  t.write(dir + "fd/0", "");
}

void write_sources(const Tree& t) {
  t.write("proc/stat", "cpu  1 0 1 10 0 0 0 0\ncpu0 1 0 1 5 0 0 0 0\ncpu1 0 0 0 5 0 0 0 0\n");
  t.write("proc/interrupts", "  CPU0 CPU1\n 0: 1 2 IO-APIC\nNMI: 3 4 NMI\nERR: 0\n");
  t.write("proc/uptime", "100.0 50.0\n");
  t.write("proc/net/dev",
          "h\nh\n a: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n"
          " b: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n c: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n");
  t.write("proc/diskstats", " 8 0 sda 1 0 1 1 1 0 1 1 0 1 1\n 8 16 sdb 1 0 1 1 1 0 1 1 0 1 1\n");
  t.write("proc/self/mountinfo",
          "1 0 8:0 / / rw - ext4 /dev/sda rw\n"
          "2 1 8:16 / /b rw - ext4 /dev/sdb rw\n");
  t.write("proc/swaps",
          "Filename Type Size Used Priority\n/s1 file 100 10 -2\n/s2 file 100 5 -3\n");
  t.write("proc/net/snmp", "Tcp: InSegs OutSegs\nTcp: 1 2\n");
  t.write("proc/net/tcp", "sl local rem st\n 0: a b 01\n");
  for (int pid : {10, 11, 12}) write_proc(t, pid, "p" + std::to_string(pid), 100, 0, pid != 12);
}

// Every source a query over several counters, instances and objects reads
// at one collection is opened once; files no counter needs are not opened
// at all (Working Set comes from stat: no status).
TEST(OnePass, EachSourceIsReadOncePerCollection) {
  struct Row {
    int line;
    std::vector<std::string> paths;     // a '*' instance adds an array counter
    std::map<std::string, int> opened;  // per collection; a file not named: never
  } rows[] = {
      {__LINE__,
       {"\\Network Interface(*)\\Bytes Sent/sec", "\\Network Interface(a)\\Packets/sec",
        "\\Network Interface(b)\\Packets/sec", "\\Network Interface(c)\\Bytes Total/sec"},
       {{"proc/net/dev", 1}}},
      {__LINE__,
       {"\\Process(*)\\Working Set"},
       {{"proc", 1}, {"proc/10/stat", 1}, {"proc/11/stat", 1}, {"proc/12/stat", 1}}},
      {__LINE__,
       {"\\Process(_Total)\\IO Read Bytes/sec", "\\Process(p10)\\IO Read Bytes/sec",
        "\\Process(p11)\\Working Set", "\\Process(p11)\\Thread Count", "\\Process(*)\\ID Process"},
       {{"proc", 1},
        {"proc/10/stat", 1},
        {"proc/10/io", 1},
        {"proc/11/stat", 1},
        {"proc/11/io", 1},
        {"proc/12/stat", 1},
        {"proc/12/io", 1},
        {"proc/12", 1}}},
      {__LINE__,
       {"\\Process(_Total)\\% Processor Time", "\\Process(Idle)\\Elapsed Time"},
       {{"proc", 1},
        {"proc/stat", 1},
        {"proc/uptime", 1},
        {"proc/10/stat", 1},
        {"proc/11/stat", 1},
        {"proc/12/stat", 1}}},
      {__LINE__,
       {"\\Processor(*)\\% Idle Time", "\\Processor(_Total)\\Interrupts/sec",
        "\\Processor(1)\\Interrupts/sec", "\\Processor(0)\\% User Time"},
       {{"proc/stat", 1}, {"proc/interrupts", 1}}},
      {__LINE__,
       {"\\PhysicalDisk(*)\\Disk Reads/sec", "\\PhysicalDisk(_Total)\\Disk Reads/sec",
        "\\LogicalDisk(*)\\Disk Reads/sec", "\\LogicalDisk(/b)\\Disk Writes/sec"},
       {{"proc/diskstats", 1}, {"proc/self/mountinfo", 1}, {"sys/block", 1}}},
      // One source, three objects: /proc/stat is read once for all of them.
      {__LINE__,
       {"\\Processor(*)\\% Idle Time", "\\System\\Context Switches/sec",
        "\\System\\Processor Queue Length", "\\Process(Idle)\\% Processor Time"},
       {{"proc/stat", 1}}},
      // The files of every process, for System's threads and for Process.
      {__LINE__,
       {"\\System\\Threads", "\\System\\Processes", "\\Process(*)\\Thread Count"},
       {{"proc", 1}, {"proc/10/stat", 1}, {"proc/11/stat", 1}, {"proc/12/stat", 1}}},
      {__LINE__,
       {"\\Paging File(*)\\% Usage", "\\Paging File(_s1)\\% Usage", "\\TCPv4\\Segments/sec",
        "\\TCPv4\\Connections Established", "\\TCPv4\\Segments Sent/sec"},
       {{"proc/swaps", 1}, {"proc/net/snmp", 1}, {"proc/net/tcp", 1}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    write_sources(t);
    std::map<std::string, int> opened;
    lb::Env env = t.env();
    env.opened = [&](const std::string& path) { ++opened[path.substr(t.dir().size() + 1)]; };
    lb::Query q(env);
    for (const std::string& p : row.paths) {
      const bool array = p.find('*') != std::string::npos;
      ASSERT_EQ(array ? q.add_array(p, nullptr) : q.add(p, nullptr), 0u) << p;
    }
    for (int round = 0; round < 2; ++round) {
      opened.clear();
      q.collect();
      EXPECT_EQ(opened, row.opened);
    }
  }
}

// Array items over two collections: p10 keeps running, p11 exits, p13
// starts, p12 exists but its io cannot be read, and p10 is renamed.
TEST(OnePass, ArrayItemsFollowTheInstances) {
  struct Row {
    int line;
    std::string path;
    std::vector<perfdata::ArrayItem> items;
  } rows[] = {
      {__LINE__,
       "\\Process(*)\\IO Read Bytes/sec",
       // Idle does no I/O; p13 is new, so no rate yet, but _Total counts
       // its 20 bytes; p12's io is unreadable, so _Total leaves it out.
       {{"Idle", 0, 0}, {"renamed", 0, 50}, {"p12", kInvalid, 0}, {"_Total", 0, (100 + 20) / 2.0}}},
      {__LINE__, "\\Process(p1*)\\Working Set", {{"p12", 0, 25 * 4096.0}, {"p13", 0, 25 * 4096.0}}},
      {__LINE__, "\\Process(nomatch*)\\Working Set", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    write_sources(t);
    lb::Query q(t.env());
    lb::Counter* c = nullptr;
    ASSERT_EQ(q.add_array(row.path, &c), 0u);
    q.collect();
    write_proc(t, 10, "renamed", 100, 100);
    t.remove("proc/11");
    write_proc(t, 13, "p13", 150, 20);
    t.advance(2.0);
    q.collect();
    std::vector<perfdata::ArrayItem> items;
    c->format_array(perfdata::FMT_DOUBLE, items);
    ASSERT_EQ(items.size(), row.items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].name, row.items[i].name);
      EXPECT_EQ(items[i].c_status, row.items[i].c_status) << items[i].name;
      if (row.items[i].c_status == 0) {
        EXPECT_DOUBLE_EQ(items[i].value, row.items[i].value);
      }
    }
  }
}

TEST(OnePass, AddStatuses) {
  struct Row {
    int line;
    std::string path;
    bool array;
    perfdata::Status status;
    bool empty_proc = false;  // a container without procfs: /proc holds no process
  } rows[] = {
      {__LINE__, "\\Process(*)\\Working Set", false, perfdata::CSTATUS_BAD_COUNTERNAME},
      {__LINE__, "\\Process(*)\\Working*", true, perfdata::CSTATUS_BAD_COUNTERNAME},
      {__LINE__, "\\Proc*(*)\\Working Set", true, perfdata::CSTATUS_BAD_COUNTERNAME},
      {__LINE__, "\\TCPv4(*)\\Segments/sec", true, perfdata::CSTATUS_NO_INSTANCE},
      {__LINE__, "\\Process(longprocessname)\\Working Set", false, 0},
      {__LINE__, "\\Process(_Total)\\Working Set", false, perfdata::CSTATUS_NO_OBJECT, true},
      {__LINE__, "\\Process(*)\\Working Set", true, perfdata::CSTATUS_NO_OBJECT, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    write_sources(t);
    write_proc(t, 20, "longprocessname", 100, 0);
    if (row.empty_proc) {
      for (int pid : {10, 11, 12, 20}) t.remove("proc/" + std::to_string(pid));
    }
    lb::Query q(t.env());
    EXPECT_EQ(row.array ? q.add_array(row.path, nullptr) : q.add(row.path, nullptr), row.status);
  }
}

// A wildcard matches a 15-byte (cut) comm as the plain lookup does.
TEST(OnePass, WildcardsMatchCutProcessNames) {
  struct Row {
    int line;
    std::string pattern, name, suffix;
    bool match;
  } rows[] = {
      {__LINE__, "longprocessnamex*", "longprocessname", "", true},
      {__LINE__, "longprocessnamex*", "longprocessname", "#1", true},
      {__LINE__, "long*x", "longprocessname", "", true},
      {__LINE__, "long*namex#1", "longprocessname", "#1", true},
      {__LINE__, "longprocessnam", "longprocessname", "", false},
      {__LINE__, "shortx*", "short", "", false},
  };
  const lb::ObjectDef& process = lb::process_object();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(lb::instance_matches(process, row.pattern, row.name, row.suffix), row.match);
  }
}

}  // namespace
