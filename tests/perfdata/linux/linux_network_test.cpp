// Network Interface counters from /proc/net/dev and the link speed.
#include <gtest/gtest.h>

#include <string>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

using proc_tree::Reading;
using proc_tree::Tree;

constexpr uint32_t INVALID = perfdata::CSTATUS_INVALID_DATA;

const std::string kHead =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop "
    "fifo "
    "colls carrier compressed\n";
// The first number touches the colon, as the kernel prints wide counters.
const std::string kDev1 = kHead +
                          "    lo:    1000      10    0    0    0     0          0         0     "
                          "1000      10    0    0    0     0       0          0\n"
                          "  eth0:123 5 1 2 0 0 0 0 456 6 3 4 0 0 0 0\n";
const std::string kDev2 = kHead +
                          "    lo:    1000      10    0    0    0     0          0         0     "
                          "1000      10    0    0    0     0       0          0\n"
                          "  eth0:323 15 1 2 0 0 0 0 856 16 3 4 0 0 0 0\n";

TEST(NetworkInterface, RatesAndCounts) {
  proc_tree::check_snapshot_rows(
      "proc/net/dev", kDev1, "\\Network Interface(eth0)\\",
      {
          {__LINE__, "Bytes Received/sec", kDev2, 0, 100.0},
          {__LINE__, "Bytes Sent/sec", kDev2, 0, 200.0},
          {__LINE__, "Bytes Total/sec", kDev2, 0, 300.0},
          {__LINE__, "Packets Received/sec", kDev2, 0, 5.0},
          {__LINE__, "Packets Sent/sec", kDev2, 0, 5.0},
          {__LINE__, "Packets/sec", kDev2, 0, 10.0},
          {__LINE__, "Packets Received Errors", kDev2, 0, 1.0},
          {__LINE__, "Packets Outbound Errors", kDev2, 0, 3.0},
          {__LINE__, "Packets Received Discarded", kDev2, 0, 2.0},
          {__LINE__, "Packets Outbound Discarded", kDev2, 0, 4.0},
          // Driver reset: the counters started again from 0.
          {__LINE__, "Bytes Received/sec", kHead + "eth0: 5 1 0 0 0 0 0 0 9 1 0 0 0 0 0 0\n",
           INVALID, 0},
          {__LINE__, "Bytes Total/sec", kHead + "eth0: 500 1 0 0 0 0 0 0 9 1 0 0 0 0 0 0\n",
           INVALID, 0},
          // The interface is gone, or its row is cut short.
          {__LINE__, "Bytes Sent/sec", kHead + "lo: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n", INVALID, 0},
          {__LINE__, "Packets Received Errors", kHead + "eth0: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0\n",
           INVALID, 0},
      });
}

TEST(NetworkInterface, BandwidthFromTheLinkSpeed) {
  struct Row {
    int line;
    std::string speed;  // "-": no file; "dir": unreadable (a read error, as EINVAL on lo)
    double expected;
  } rows[] = {
      {__LINE__, "1000\n", 1e9}, {__LINE__, "10\n", 1e7}, {__LINE__, "-1\n", 0.0},
      {__LINE__, "-", 0.0},      {__LINE__, "dir", 0.0},  {__LINE__, "fast\n", 0.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Tree t;
    t.write("proc/net/dev", kDev1);
    if (row.speed == "dir") {
      t.write("sys/class/net/eth0/speed/x", "");
    } else if (row.speed != "-") {
      t.write("sys/class/net/eth0/speed", row.speed);
    }
    Reading r = proc_tree::sample_once(t, "\\Network Interface(eth0)\\Current Bandwidth");
    ASSERT_EQ(r.add, 0u);
    EXPECT_EQ(r.c_status, 0u);
    EXPECT_DOUBLE_EQ(r.value, row.expected);
  }
}

TEST(NetworkInterface, InstancesAreTheInterfacesOnly) {
  Tree t;
  t.write("proc/net/dev", kDev1);
  perfdata::linux_backend::Query q(t.env());
  EXPECT_EQ(q.add("\\Network Interface(_Total)\\Bytes Sent/sec", nullptr),
            perfdata::CSTATUS_NO_INSTANCE);
  EXPECT_EQ(q.add("\\Network Interface(face)\\Bytes Sent/sec", nullptr),
            perfdata::CSTATUS_NO_INSTANCE);
  EXPECT_EQ(q.add("\\Network Interface(LO)\\Bytes Sent/sec", nullptr), 0u);
  t.remove("proc/net/dev");
  // The instances listed for the adds hold until the next collection.
  q.collect();
  EXPECT_EQ(q.add("\\Network Interface(lo)\\Bytes Sent/sec", nullptr), perfdata::CSTATUS_NO_OBJECT);
}

}  // namespace
