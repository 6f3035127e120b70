// A count that drops between collections: a wrap only where the kernel keeps
// the field in 32 bits (diskstats time fields, interrupt cells, unsigned long
// on a 32-bit kernel); a reset (INVALID_DATA) everywhere else.
#include <gtest/gtest.h>

#include <string>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

using proc_tree::Tree;
constexpr uint32_t INVALID = perfdata::CSTATUS_INVALID_DATA;

const std::string kNetHead = "Inter-| Receive | Transmit\n face |bytes packets|bytes packets\n";
std::string net(const std::string& rx_bytes) {
  return kNetHead + "  eth0: " + rx_bytes + " 1 0 0 0 0 0 0 9 1 0 0 0 0 0 0\n";
}
std::string disk(const std::string& reads, const std::string& f11) {
  return "8 0 sda " + reads + " 0 8 0 0 0 0 0 0 0 " + f11 + "\n";
}

TEST(Wrap, OnlyNarrowFieldsWrap) {
  struct Row {
    int line;
    std::string path, file, before, after;
    int ulong_bits;
    uint32_t status;
    double expected;  // per second, dt = 2
  } rows[] = {
      // rtnl_link_stats64: 64 bits on every kernel.
      {__LINE__, "\\Network Interface(eth0)\\Bytes Received/sec", "proc/net/dev", net("3000000000"),
       net("500000000"), 64, INVALID, 0},
      {__LINE__, "\\Network Interface(eth0)\\Bytes Received/sec", "proc/net/dev", net("4294967290"),
       net("10"), 32, INVALID, 0},
      // vmstat and the Tcp MIB are unsigned long.
      {__LINE__, "\\Memory\\Page Faults/sec", "proc/vmstat", "pgfault 4294967290\n", "pgfault 10\n",
       32, 0, 8},
      {__LINE__, "\\Memory\\Page Faults/sec", "proc/vmstat", "pgfault 4294967290\n", "pgfault 10\n",
       64, INVALID, 0},
      {__LINE__, "\\TCPv4\\Segments Received/sec", "proc/net/snmp",
       "Tcp: InSegs\nTcp: 4294967295\n", "Tcp: InSegs\nTcp: 3\n", 32, 0, 2},
      {__LINE__, "\\TCPv4\\Segments Received/sec", "proc/net/snmp",
       "Tcp: InSegs\nTcp: 4294967295\n", "Tcp: InSegs\nTcp: 3\n", 64, INVALID, 0},
      // ctxt is a 64-bit sum on every kernel.
      {__LINE__, "\\System\\Context Switches/sec", "proc/stat",
       "cpu 1 1 1 1\nctxt 4294967290\nprocs_running 1\n", "cpu 1 1 1 1\nctxt 10\nprocs_running 1\n",
       32, INVALID, 0},
      // diskstats: reads completed are unsigned long, f11 is unsigned int.
      {__LINE__, "\\PhysicalDisk(sda)\\Disk Reads/sec", "proc/diskstats", disk("4294967290", "0"),
       disk("10", "0"), 32, 0, 8},
      {__LINE__, "\\PhysicalDisk(sda)\\Disk Reads/sec", "proc/diskstats", disk("4294967290", "0"),
       disk("10", "0"), 64, INVALID, 0},
      {__LINE__, "\\PhysicalDisk(sda)\\Avg. Disk Queue Length", "proc/diskstats",
       disk("1", "4294967000"), disk("1", "704"), 64, 0, 0.5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.ulong_bits = row.ulong_bits;
    t.write("proc/meminfo", "MemTotal: 8 kB\n");
    t.write(row.file, row.before);
    proc_tree::Reading r = proc_tree::sample_twice(
        t, row.path, [&] { t.write(row.file, row.after); }, 2.0);
    proc_tree::expect_reading(r, row.status, row.expected);
  }
}

// Each /proc/interrupts cell wraps on its own; their sum is wider than 32
// bits and must not be differenced as one number.
TEST(Wrap, InterruptCellsWrapOneByOne) {
  const std::string head = "      CPU0       CPU1\n";
  struct Row {
    int line;
    std::string path, after;
    uint32_t status;
    double expected;
  } rows[] = {
      {__LINE__, "\\Processor(_Total)\\Interrupts/sec", " 0: 10 20 timer\n 1: 5 5 i8042\n", 0, 24},
      {__LINE__, "\\Processor(1)\\Interrupts/sec", " 0: 10 20 timer\n 1: 5 5 i8042\n", 0, 15},
      // A new line counts whole; one that went back without wrapping is a reset.
      {__LINE__, "\\Processor(0)\\Interrupts/sec", " 0: 10 20 timer\n 1: 5 5 i8042\n 9: 4 0 new\n",
       0, 11},
      {__LINE__, "\\Processor(0)\\Interrupts/sec", " 0: 10 20 timer\n 1: 1 5 i8042\n", INVALID, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write("proc/stat", "cpu 1 1 1 1\ncpu0 1 1 1 1\ncpu1 1 1 1 1\n");
    t.write("proc/interrupts", head + " 0: 4294967290 4294967290 timer\n 1: 3 1 i8042\n");
    proc_tree::Reading r = proc_tree::sample_twice(
        t, row.path, [&] { t.write("proc/interrupts", head + row.after); }, 2.0);
    proc_tree::expect_reading(r, row.status, row.expected);
  }
}

}  // namespace
