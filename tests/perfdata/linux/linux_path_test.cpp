// Counter paths on Linux: the add-time statuses in their order, '#k'
// duplicates and case folding; and the cumulative-count delta rule.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/perfdata/linux/proc_tree.h"
#include "perfdata/linux/discovery.h"
#include "perfdata/linux/query.h"

namespace {

using proc_tree::Tree;

constexpr perfdata::Status OK = 0;
constexpr perfdata::Status BAD = perfdata::CSTATUS_BAD_COUNTERNAME;
constexpr perfdata::Status NO_MACHINE = perfdata::CSTATUS_NO_MACHINE;
constexpr perfdata::Status NO_OBJECT = perfdata::CSTATUS_NO_OBJECT;
constexpr perfdata::Status NO_COUNTER = perfdata::CSTATUS_NO_COUNTER;
constexpr perfdata::Status NO_INSTANCE = perfdata::CSTATUS_NO_INSTANCE;

void write_machine(const Tree& t) {
  t.write("proc/stat",
          "cpu  10 0 10 80 0 0 0 0 0 0\n"
          "cpu0 5 0 5 40 0 0 0 0 0 0\n"
          "cpu2 5 0 5 40 0 0 0 0 0 0\n"
          "ctxt 100\nprocs_running 1\n");
  t.write("proc/meminfo", "MemTotal: 1000 kB\nMemFree: 100 kB\nMemAvailable: 500 kB\n");
  t.write("proc/swaps",
          "Filename\tType\tSize\tUsed\tPriority\n"
          "/swap/a    file 1000 10 -2\n"
          "/swap#a    file 1000 20 -3\n");
  t.write("proc/net/dev",
          "Inter-|   Receive                |  Transmit\n"
          " face |bytes packets errs drop fifo frame compressed multicast|bytes ...\n"
          "  eth0: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n"
          "  ETH0: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n"
          "we(ird): 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n"
          "    lo: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n");
  t.write("proc/net/snmp", "Tcp: InSegs OutSegs\nTcp: 1 2\n");
}

TEST(AddStatus, PathsGetTheirStatusInCheckOrder) {
  Tree t;
  write_machine(t);
  const std::string long_counter = "\\Memory\\" + std::string(2047 - 8, 'x');
  struct Row {
    int line;
    std::string path;
    perfdata::Status expected;
    std::string key;  // the pinned instance's source name, when checked
  } rows[] = {
      // Syntax.
      {__LINE__, "", BAD, ""},
      {__LINE__, "Memory\\Available Bytes", BAD, ""},
      {__LINE__, "\\Memory", BAD, ""},
      {__LINE__, "\\Memory\\", BAD, ""},
      {__LINE__, "\\\\\\Memory\\Available Bytes", BAD, ""},
      {__LINE__, "\\\\vm", BAD, ""},
      {__LINE__, "\\Processor()\\% Processor Time", BAD, ""},
      {__LINE__, "\\Processor(_Total\\% Processor Time", BAD, ""},
      {__LINE__, "\\Processor_Total)\\% Processor Time", BAD, ""},
      {__LINE__, "\\Processor(_Total)", BAD, ""},
      {__LINE__, long_counter, NO_COUNTER, ""},
      {__LINE__, long_counter + "x", BAD, ""},
      {__LINE__, "\\Memory\\" + std::string(10000, 'y'), BAD, ""},
      // Wildcards in each part.
      {__LINE__, "\\\\*\\Memory\\Available Bytes", BAD, ""},
      {__LINE__, "\\Mem*\\Available Bytes", BAD, ""},
      {__LINE__, "\\Processor(*)\\% Processor Time", BAD, ""},
      {__LINE__, "\\Network Interface(eth*)\\Bytes Sent/sec", BAD, ""},
      {__LINE__, "\\Memory\\Available*", BAD, ""},
      // Machine forms; a foreign machine is reported before a bad object.
      {__LINE__, "\\\\.\\Memory\\Available Bytes", OK, ""},
      {__LINE__, "\\\\LocalHost\\Memory\\Available Bytes", OK, ""},
      {__LINE__, "\\\\127.0.0.1\\Memory\\Available Bytes", OK, ""},
      {__LINE__, "\\\\VM\\Memory\\Available Bytes", OK, ""},
      {__LINE__, "\\\\vm.example.org\\Memory\\Available Bytes", OK, ""},
      {__LINE__, "\\\\vmx\\Memory\\Available Bytes", NO_MACHINE, ""},
      {__LINE__, "\\\\other\\No Such Object\\x", NO_MACHINE, ""},
      // Objects and counters; bytes above 127 are ordinary bytes.
      {__LINE__, "\\No Such Object\\x", NO_OBJECT, ""},
      {__LINE__, "\\TCPv6\\Segments/sec", NO_OBJECT, ""},
      {__LINE__, "\\M\xe9mory\\Available Bytes", NO_OBJECT, ""},
      {__LINE__, "\\No Such Object\\x\\y", BAD, ""},  // counter holding a backslash
      {__LINE__, "\\Memory\\Available Bytes\xe9", NO_COUNTER, ""},
      {__LINE__, "\\Memory\\ Available Bytes", NO_COUNTER, ""},
      {__LINE__, "\\Paging File(_Total)\\% Usage Peak", NO_COUNTER, ""},
      {__LINE__, "\\System\\System Calls/sec", NO_COUNTER, ""},
      {__LINE__, "\\memory\\AVAILABLE bytes", OK, ""},
      {__LINE__, "\\tcpv4\\segments/SEC", OK, ""},
      // Instances.
      {__LINE__, "\\Memory(_Total)\\Available Bytes", NO_INSTANCE, ""},
      {__LINE__, "\\Processor\\% Processor Time", NO_INSTANCE, ""},
      {__LINE__, "\\Processor(_total)\\% Processor Time", OK, "cpu"},
      {__LINE__, "\\Processor(0#0)\\% Processor Time", OK, "cpu0"},
      {__LINE__, "\\Processor(1)\\% Processor Time", NO_INSTANCE, ""},
      {__LINE__, "\\Processor(2)\\% Processor Time", OK, "cpu2"},
      {__LINE__, "\\Processor(\xff)\\% Processor Time", NO_INSTANCE, ""},
      {__LINE__, "\\Network Interface(eth0)\\Bytes Sent/sec", OK, "eth0"},
      {__LINE__, "\\Network Interface(ETH0)\\Bytes Sent/sec", OK, "ETH0"},  // exact name first
      {__LINE__, "\\Network Interface(Eth0)\\Bytes Sent/sec", OK,
       "eth0"},  // else the group's first
      {__LINE__, "\\Network Interface(eth0#1)\\Bytes Sent/sec", OK, "ETH0"},
      {__LINE__, "\\Network Interface(eth0#2)\\Bytes Sent/sec", NO_INSTANCE, ""},
      {__LINE__, "\\Network Interface(eth0#)\\Bytes Sent/sec", NO_INSTANCE, ""},
      {__LINE__, "\\Network Interface(_Total)\\Bytes Sent/sec", NO_INSTANCE, ""},
      {__LINE__, "\\Network Interface(we(ird))\\Bytes Sent/sec", NO_INSTANCE, ""},
      {__LINE__, "\\Network Interface(we[ird])\\Bytes Sent/sec", OK, "we(ird)"},
      {__LINE__, "\\Paging File(_swap_a)\\% Usage", OK, "/swap/a"},
      {__LINE__, "\\Paging File(_swap_a#01)\\% Usage", OK, "/swap#a"},
      {__LINE__, "\\Paging File(/swap/a)\\% Usage", NO_INSTANCE, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    perfdata::linux_backend::Query q(t.env());
    perfdata::linux_backend::Counter* c = nullptr;
    EXPECT_EQ(q.add(row.path, &c), row.expected);
    if (row.expected == OK && !row.key.empty()) {
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->instance().key, row.key);
    }
  }
}

TEST(AddStatus, MissingPrimarySourceIsNoObject) {
  Tree t;
  write_machine(t);
  t.remove("proc/net/snmp");
  t.remove("proc/swaps");
  perfdata::linux_backend::Query q(t.env());
  EXPECT_EQ(q.add("\\TCPv4\\Segments/sec", nullptr), NO_OBJECT);
  EXPECT_EQ(q.add("\\Paging File(_Total)\\% Usage", nullptr), NO_OBJECT);
  // The object check comes before the counter check.
  EXPECT_EQ(q.add("\\TCPv4\\No Such Counter", nullptr), NO_OBJECT);
  EXPECT_EQ(q.add("\\Memory\\Available Bytes", nullptr), OK);
}

TEST(AddStatus, MachineNamedByItsCutComputerName) {
  Tree t;
  write_machine(t);
  t.nodename = "build-worker-0042";
  struct Row {
    int line;
    std::string machine;
    bool local;
  } rows[] = {
      {__LINE__, "build-worker-0042", true},
      {__LINE__, "BUILD-WORKER-00", true},  // the 15-byte computer name
      {__LINE__, "build-worker-0", false},
      {__LINE__, "build-worker-0042.lan", true},
      {__LINE__, "build-worker-0043", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(perfdata::linux_backend::is_local_machine(row.machine), row.local);
  }
  t.nodename = "node7.cluster.example";
  EXPECT_TRUE(perfdata::linux_backend::is_local_machine("NODE7"));
  EXPECT_TRUE(perfdata::linux_backend::is_local_machine("node7.cluster.example"));
  EXPECT_FALSE(perfdata::linux_backend::is_local_machine("node7.other"));
}

// The sampler puts "\\" + the computer name before every path; whatever the
// node name holds, that prefix names this computer, with no hostname file.
TEST(AddStatus, TheProbesOwnNameAlwaysWorks) {
  Tree t;
  write_machine(t);
  t.remove("proc/sys/kernel/hostname");
  struct Row {
    int line;
    std::string node;
    std::string machine;
    perfdata::Status expected;
  } rows[] = {
      {__LINE__, "vm", "vm", OK},
      {__LINE__, "we*ird", "we*ird", OK},
      {__LINE__, "we*ird", "WE*IRD", OK},
      {__LINE__, "back\\slash", "back\\slash", OK},
      {__LINE__, "back\\slash", "back", NO_MACHINE},  // only the whole name
      {__LINE__, "(paren)", "(paren)", OK},
      {__LINE__, "a-very-long*host-name", "a-very-long*hos", OK},  // the 15-byte computer name
      {__LINE__, "a-very-long*host-name", "a-very-long*host-name", OK},
      {__LINE__, "we*ird", "other", NO_MACHINE},
      {__LINE__, "we*ird", "we*irder", BAD},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    t.nodename = row.node;
    perfdata::linux_backend::Query q(t.env());
    EXPECT_EQ(q.add("\\\\" + row.machine + "\\Memory\\Available Bytes", nullptr), row.expected);
    if (row.expected == OK) {
      EXPECT_EQ(q.add("\\\\" + row.machine + "\\Memory\\Avail*", nullptr),
                BAD);  // '*' after the name
      std::vector<std::string> paths;
      EXPECT_EQ(perfdata::linux_backend::expand_wildcard_path(
                    t.env(), "\\\\" + row.machine + "\\Memory\\Avail*", paths),
                OK);
      EXPECT_EQ(paths.size(), 3u);
    }
  }
}

TEST(Delta, OnlyThirtyTwoBitFieldsWrap) {
  namespace lb = perfdata::linux_backend;
  const std::optional<uint64_t> reset;
  struct Row {
    int line;
    uint64_t prev, cur;
    std::optional<uint64_t> wide, narrow;  // delta, delta32
  } rows[] = {
      {__LINE__, 10, 15, 5, 5},
      {__LINE__, 7, 7, 0, 0},
      {__LINE__, 0xFFFFFFF0ull, 0x10, reset, 0x20},                    // a 32-bit wrap
      {__LINE__, 0xFFFFFFFFull, 0x7FFFFFFEull, reset, 0x7FFFFFFFull},  // largest plausible wrap
      {__LINE__, 0xFFFFFFFFull, 0x7FFFFFFFull, reset, reset},
      {__LINE__, 3000000000ull, 500000000ull, reset, 1794967296ull},  // a reset on a 64-bit field
      {__LINE__, 5000, 3, reset, reset},                              // reset from a small value
      {__LINE__, (1ull << 40) + 5, 5, reset, reset},
      {__LINE__, 0, UINT64_MAX, UINT64_MAX, UINT64_MAX},
  };
  lb::Env narrow_kernel;
  narrow_kernel.ulong_bits = 32;
  const lb::Env wide_kernel;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(lb::delta(row.prev, row.cur), row.wide);
    EXPECT_EQ(lb::delta32(row.prev, row.cur), row.narrow);
    EXPECT_EQ(lb::delta_ulong(wide_kernel, row.prev, row.cur), row.wide);
    EXPECT_EQ(lb::delta_ulong(narrow_kernel, row.prev, row.cur), row.narrow);
  }
}

TEST(Mangle, SeparatorsBecomeSafeCharacters) {
  struct Row {
    int line;
    std::string raw, expected;
    bool keep_slash = false;  // LogicalDisk
  } rows[] = {
      {__LINE__, "kworker/0:0-events", "kworker_0:0-events"},
      {__LINE__, "a(b)#c\\d", "a[b]_c_d"},
      {__LINE__, "/dev/dm-1", "_dev_dm-1"},
      {__LINE__, "plain", "plain"},
      {__LINE__, "a*b|c", "a_b_c"},
      {__LINE__, std::string("t\tx\ny\0z\x7f", 8), "t_x_y_z_"},
      {__LINE__, "", "_"},
      {__LINE__, "/mnt/backup#2", "/mnt/backup_2", true},
      {__LINE__, "/mnt/a(b)\\c*", "/mnt/a[b]_c_", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(perfdata::linux_backend::mangle(row.raw, row.keep_slash), row.expected);
  }
}

}  // namespace

TEST(Discovery, InstancesAndExpansionOnAFixtureTree) {
  Tree t;
  write_machine(t);
  namespace lb = perfdata::linux_backend;
  struct Row {
    int line;
    std::string object;
    perfdata::Status status;
    std::vector<std::string> instances;
  } items[] = {
      {__LINE__, "processor", OK, {"_Total", "0", "2"}},
      {__LINE__, "Network Interface", OK, {"eth0", "ETH0#1", "we[ird]", "lo"}},
      {__LINE__, "Paging File", OK, {"_Total", "_swap_a", "_swap_a#1"}},
      {__LINE__, "Memory", OK, {}},
      {__LINE__, "TCPv6", NO_OBJECT, {}},
  };
  for (const Row& row : items) {
    SCOPED_TRACE(row.line);
    std::vector<perfdata::CounterInfo> counters;
    std::vector<std::string> instances;
    EXPECT_EQ(lb::enum_object_items(t.env(), row.object, counters, instances), row.status);
    EXPECT_EQ(instances, row.instances);
    EXPECT_EQ(counters.empty(), row.status != OK);
  }
  struct Expand {
    int line;
    std::string pattern;
    perfdata::Status status;
    std::vector<std::string> paths;
  } expands[] = {
      {__LINE__,
       "\\Processor(*)\\% Idle Time",
       OK,
       {"\\Processor(_Total)\\% Idle Time", "\\Processor(0)\\% Idle Time",
        "\\Processor(2)\\% Idle Time"}},
      {__LINE__,
       "\\\\VM\\network interface(E*0*)\\bytes s*",
       OK,
       {"\\Network Interface(eth0)\\Bytes Sent/sec",
        "\\Network Interface(ETH0#1)\\Bytes Sent/sec"}},
      {__LINE__,
       "\\Network Interface(eth0#1)\\Packets/sec",
       OK,
       {"\\Network Interface(ETH0#1)\\Packets/sec"}},
      {__LINE__, "\\Paging File(*_total)\\*", OK, {"\\Paging File(_Total)\\% Usage"}},
      {__LINE__, "\\Memory\\*MBytes", OK, {"\\Memory\\Available MBytes"}},
      {__LINE__, "\\Memory(*)\\*", OK, {}},
      {__LINE__, "\\Processor(9*)\\*", OK, {}},
      {__LINE__, "\\Proc*(*)\\*", BAD, {}},
      {__LINE__, "\\\\other\\Processor(*)\\*", NO_MACHINE, {}},
      {__LINE__, "\\Thread(*)\\*", NO_OBJECT, {}},
  };
  for (const Expand& row : expands) {
    SCOPED_TRACE(row.line);
    std::vector<std::string> paths;
    EXPECT_EQ(lb::expand_wildcard_path(t.env(), row.pattern, paths), row.status);
    EXPECT_EQ(paths, row.paths);
  }
  // Every expanded path adds as itself: expansion and add agree on names.
  std::vector<std::string> paths;
  ASSERT_EQ(lb::expand_wildcard_path(t.env(), "\\Network Interface(*)\\Packets/sec", paths), OK);
  lb::Query q(t.env());
  for (const std::string& p : paths) EXPECT_EQ(q.add(p, nullptr), OK) << p;
}

TEST(Discovery, EveryCatalogueRowCarriesItsText) {
  namespace lb = perfdata::linux_backend;
  std::vector<std::string> objects;
  ASSERT_EQ(lb::enum_objects(lb::default_env(), objects), OK);
  EXPECT_EQ(objects.size(), lb::all_objects().size());
  for (const lb::ObjectDef* obj : lb::all_objects()) {
    for (const lb::CounterDef& row : obj->counters) {
      SCOPED_TRACE(std::string(obj->name) + "\\" + row.name);
      perfdata::CounterInfo info = lb::counter_info(row);
      EXPECT_FALSE(info.explanation.empty());
      EXPECT_TRUE(info.source.find("/proc/") == 0 || info.source.find("/sys/") == 0 ||
                  info.source.find("statvfs") == 0);
      // Percent rows are capped and so must say "%"; elapsed rows count seconds.
      if (lb::is_percent(row)) {
        EXPECT_EQ(info.unit, "%");
      }
      if (row.kind == perfdata::CounterKind::elapsed) {
        EXPECT_EQ(info.unit, "s");
      }
      EXPECT_TRUE(info.unit.empty() || info.unit == "%" || info.unit == "B" || info.unit == "s")
          << info.unit;
    }
  }
}
