#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// TCPv4: the Tcp MIB from /proc/net/snmp and established connections from
// /proc/net/tcp.
#include <cerrno>

#include "perfdata/counter_types.h"
#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

enum : uint32_t { kSnmp = 1, kTcpTable = 2 };
enum : size_t {
  kActive,
  kPassive,
  kFails,
  kResets,
  kInSegs,
  kOutSegs,
  kRetrans,
  kEstablished,
  kSlots
};
constexpr uint64_t kAbsent = kNoValue;  // as the shared raw fills read it

// Columns were added over kernel versions, so values are looked up by the
// names of the header line, never by position.
bool parse_snmp(std::string_view text, Sample& out) {
  std::vector<std::string_view> head, vals;
  for (std::string_view line : split_lines(text)) {
    if (line.substr(0, 4) != "Tcp:") continue;
    if (head.empty()) {
      head = split_ws(line.substr(4));
    } else {
      vals = split_ws(line.substr(4));
      break;
    }
  }
  if (head.empty() || head.size() != vals.size()) return false;
  static constexpr std::pair<size_t, const char*> keys[] = {
      {kActive, "ActiveOpens"}, {kPassive, "PassiveOpens"}, {kFails, "AttemptFails"},
      {kResets, "EstabResets"}, {kInSegs, "InSegs"},        {kOutSegs, "OutSegs"},
      {kRetrans, "RetransSegs"}};
  for (const auto& [slot, key] : keys) {
    for (size_t i = 0; i < head.size(); ++i) {
      int64_t v = 0;
      if (head[i] == key && parse_i64(vals[i], v) && v >= 0) out.u[slot] = static_cast<uint64_t>(v);
    }
  }
  return true;
}

// ESTABLISHED (01) and CLOSE_WAIT (08) rows: connections that are up, as
// Windows counts them.
bool count_established(std::string_view text, uint64_t& out) {
  std::vector<std::string_view> lines = split_lines(text);
  if (lines.empty()) return false;
  out = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string_view> tok = split_ws(lines[i]);
    if (tok.empty()) continue;
    if (tok.size() < 4) return false;
    if (tok[3] == "01" || tok[3] == "08") ++out;
  }
  return true;
}

void collect(const Env& env, uint32_t needs, Sample& out) {
  out.u.assign(kSlots, kAbsent);
  out.ok = true;
  std::string text;
  if ((needs & kSnmp) && (!read_file(env, "proc/net/snmp", text) || !parse_snmp(text, out))) {
    out.missing |= kSnmp;
    out.problem = read_problem("proc/net/snmp", errno);
  }
  if ((needs & kTcpTable) &&
      (!read_file(env, "proc/net/tcp", text) || !count_established(text, out.u[kEstablished]))) {
    out.missing |= kTcpTable;
    if (out.problem.empty()) out.problem = read_problem("proc/net/tcp", errno);
  }
}

void pass(const Env& env, const Request& req, Pass& out) {
  single_instance_pass(env, req, out, "proc/net/snmp", collect);
}

// The Tcp MIB is kept in unsigned long: the rates' types are the 32-bit
// ones on a 32-bit kernel.
constexpr RawForm rate(RawFill fill, const char* form) { return bulk_count(fill, form, true); }

constexpr CounterDef kCounters[] = {
    {"TCPv4",
     "Connections Established",
     CounterKind::gauge,
     kTcpTable,
     nullptr,
     "",
     "IPv4 TCP connections now ESTABLISHED or CLOSE-WAIT",
     "/proc/net/tcp rows with st 01 or 08",
     {TYPE_COUNTER_RAWCOUNT, slots_now<kEstablished>, TimeBase::stamp, false,
      "first value the count"}},
    {"TCPv4", "Connections Active", CounterKind::count, kSnmp, nullptr, "",
     "Connections opened from this side since boot (IPv6 included)",
     "/proc/net/snmp Tcp ActiveOpens", large_count(slots_now<kActive>)},
    {"TCPv4", "Connections Passive", CounterKind::count, kSnmp, nullptr, "",
     "Connections accepted since boot (IPv6 included)", "/proc/net/snmp Tcp PassiveOpens",
     large_count(slots_now<kPassive>)},
    {"TCPv4", "Connection Failures", CounterKind::count, kSnmp, nullptr, "",
     "Connection attempts that failed since boot (IPv6 included)",
     "/proc/net/snmp Tcp AttemptFails", large_count(slots_now<kFails>)},
    {"TCPv4", "Connections Reset", CounterKind::count, kSnmp, nullptr, "",
     "Established connections reset since boot (IPv6 included)", "/proc/net/snmp Tcp EstabResets",
     large_count(slots_now<kResets>)},
    {"TCPv4", "Segments Received/sec", CounterKind::rate, kSnmp, nullptr, "",
     "TCP segments received per second (IPv6 included)",
     "/proc/net/snmp Tcp InSegs delta / seconds",
     rate(slots_per_stamp<kInSegs>, "first value InSegs; second value the time stamp")},
    {"TCPv4", "Segments Sent/sec", CounterKind::rate, kSnmp, nullptr, "",
     "TCP segments sent per second (IPv6 included)", "/proc/net/snmp Tcp OutSegs delta / seconds",
     rate(slots_per_stamp<kOutSegs>, "first value OutSegs; second value the time stamp")},
    {"TCPv4", "Segments/sec", CounterKind::rate, kSnmp, nullptr, "",
     "TCP segments received plus sent per second (IPv6 included)",
     "/proc/net/snmp Tcp (InSegs+OutSegs) deltas / seconds",
     rate(slots_per_stamp<kInSegs, kOutSegs>,
          "first value InSegs+OutSegs; second value the time stamp")},
    {"TCPv4", "Segments Retransmitted/sec", CounterKind::rate, kSnmp, nullptr, "",
     "TCP segments retransmitted per second (IPv6 included)",
     "/proc/net/snmp Tcp RetransSegs delta / seconds",
     rate(slots_per_stamp<kRetrans>, "first value RetransSegs; second value the time stamp")},
};

}  // namespace

const ObjectDef& tcpv4_object() {
  static const ObjectDef def{"TCPv4", false, kCounters, pass};
  return def;
}

}  // namespace perfdata::linux_backend
