// TCPv4 counters from the Tcp MIB and the IPv4 connection table.
#include <gtest/gtest.h>

#include <string>

#include "tests/perfdata/linux/proc_tree.h"

namespace {

using proc_tree::Reading;
using proc_tree::Tree;

constexpr uint32_t INVALID = perfdata::CSTATUS_INVALID_DATA;

const char* kSnmp1 =
    "Ip: Forwarding DefaultTTL\nIp: 1 64\n"
    "Tcp: RtoAlgorithm RtoMin RtoMax MaxConn ActiveOpens PassiveOpens AttemptFails EstabResets "
    "CurrEstab "
    "InSegs OutSegs RetransSegs InErrs OutRsts InCsumErrors\n"
    "Tcp: 1 200 120000 -1 10 20 3 4 5 1000 2000 30 0 7 0\n"
    "Udp: InDatagrams\nUdp: 5\n";
// A newer kernel with a column inserted before the ones read.
const char* kSnmp2 =
    "Tcp: RtoAlgorithm RtoMin RtoMax MaxConn Extra ActiveOpens PassiveOpens AttemptFails "
    "EstabResets CurrEstab "
    "InSegs OutSegs RetransSegs InErrs OutRsts InCsumErrors\n"
    "Tcp: 1 200 120000 -1 999999 11 21 3 4 5 1400 2600 50 0 7 0\n";

const char* kTcp =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode\n"
    "   0: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1\n"
    "   1: 0100007F:0016 0100007F:A000 01 00000000:00000000 00:00000000 00000000     0        0 2\n"
    "   2: 0100007F:0016 0100007F:A002 08 00000000:00000000 00:00000000 00000000     0        0 3\n"
    "   3: 0100007F:0016 0100007F:A004 06 00000000:00000000 00:00000000 00000000     0        0 "
    "4\n";

TEST(TCPv4, CountersByColumnName) {
  proc_tree::check_snapshot_rows(
      "proc/net/snmp", kSnmp1, "\\TCPv4\\",
      {
          {__LINE__, "Connections Active", kSnmp2, 0, 11.0},
          {__LINE__, "Connections Passive", kSnmp2, 0, 21.0},
          {__LINE__, "Connection Failures", kSnmp2, 0, 3.0},
          {__LINE__, "Connections Reset", kSnmp2, 0, 4.0},
          {__LINE__, "Segments Received/sec", kSnmp2, 0, 200.0},
          {__LINE__, "Segments Sent/sec", kSnmp2, 0, 300.0},
          {__LINE__, "Segments/sec", kSnmp2, 0, 500.0},
          {__LINE__, "Segments Retransmitted/sec", kSnmp2, 0, 10.0},
          {__LINE__, "Segments/sec", "Tcp: InSegs OutSegs\nTcp: 1400 2600 9\n", INVALID,
           0},  // ragged
          {__LINE__, "Segments Received/sec", "Tcp: InSegs OutSegs\nTcp: 5 2600\n", INVALID,
           0},  // reset
          {__LINE__, "Segments Retransmitted/sec", "Tcp: InSegs OutSegs\nTcp: 1400 2600\n", INVALID,
           0},
      });
}

TEST(TCPv4, EstablishedCountsEstablishedAndCloseWaitRows) {
  Tree t;
  t.write("proc/net/snmp", kSnmp1);
  t.write("proc/net/tcp", kTcp);
  Reading r = proc_tree::sample_once(t, "\\TCPv4\\Connections Established");
  EXPECT_EQ(r.c_status, 0u);
  EXPECT_DOUBLE_EQ(r.value, 2.0);
  // Without the table only this counter is lost.
  t.remove("proc/net/tcp");
  EXPECT_EQ(proc_tree::sample_once(t, "\\TCPv4\\Connections Established").c_status, INVALID);
  EXPECT_EQ(proc_tree::sample_once(t, "\\TCPv4\\Connections Active").c_status, 0u);
}

}  // namespace
