#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// TCPv4: the Tcp MIB from /proc/net/snmp and established connections from
// /proc/net/tcp.
#include <cerrno>

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
constexpr uint64_t kAbsent = UINT64_MAX;

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

Value gauge(const Sample& c, size_t slot) {
  if (c.u[slot] == kAbsent) return std::nullopt;
  return static_cast<double>(c.u[slot]);
}

// The Tcp MIB is kept in unsigned long: it wraps only on a 32-bit kernel.
Value rate(const Sample& p, const Sample& c, double dt, const Env& env,
           std::initializer_list<size_t> slots) {
  double sum = 0;
  for (size_t slot : slots) {
    if (p.u[slot] == kAbsent || c.u[slot] == kAbsent) return std::nullopt;
    std::optional<uint64_t> d = delta_ulong(env, p.u[slot], c.u[slot]);
    if (!d) return std::nullopt;
    sum += static_cast<double>(*d);
  }
  return sum / dt;
}

Value established(const Sample*, const Sample& c, double, const Env&) {
  return gauge(c, kEstablished);
}
Value active(const Sample*, const Sample& c, double, const Env&) { return gauge(c, kActive); }
Value passive(const Sample*, const Sample& c, double, const Env&) { return gauge(c, kPassive); }
Value failures(const Sample*, const Sample& c, double, const Env&) { return gauge(c, kFails); }
Value resets(const Sample*, const Sample& c, double, const Env&) { return gauge(c, kResets); }
Value received(const Sample* p, const Sample& c, double dt, const Env& e) {
  return rate(*p, c, dt, e, {kInSegs});
}
Value sent(const Sample* p, const Sample& c, double dt, const Env& e) {
  return rate(*p, c, dt, e, {kOutSegs});
}
Value segments(const Sample* p, const Sample& c, double dt, const Env& e) {
  return rate(*p, c, dt, e, {kInSegs, kOutSegs});
}
Value retransmitted(const Sample* p, const Sample& c, double dt, const Env& e) {
  return rate(*p, c, dt, e, {kRetrans});
}

constexpr CounterDef kCounters[] = {
    {"TCPv4", "Connections Established", CounterKind::gauge, kTcpTable, established, "",
     "IPv4 TCP connections now ESTABLISHED or CLOSE-WAIT", "/proc/net/tcp rows with st 01 or 08"},
    {"TCPv4", "Connections Active", CounterKind::count, kSnmp, active, "",
     "Connections opened from this side since boot (IPv6 included)",
     "/proc/net/snmp Tcp ActiveOpens"},
    {"TCPv4", "Connections Passive", CounterKind::count, kSnmp, passive, "",
     "Connections accepted since boot (IPv6 included)", "/proc/net/snmp Tcp PassiveOpens"},
    {"TCPv4", "Connection Failures", CounterKind::count, kSnmp, failures, "",
     "Connection attempts that failed since boot (IPv6 included)",
     "/proc/net/snmp Tcp AttemptFails"},
    {"TCPv4", "Connections Reset", CounterKind::count, kSnmp, resets, "",
     "Established connections reset since boot (IPv6 included)", "/proc/net/snmp Tcp EstabResets"},
    {"TCPv4", "Segments Received/sec", CounterKind::rate, kSnmp, received, "",
     "TCP segments received per second (IPv6 included)",
     "/proc/net/snmp Tcp InSegs delta / seconds"},
    {"TCPv4", "Segments Sent/sec", CounterKind::rate, kSnmp, sent, "",
     "TCP segments sent per second (IPv6 included)", "/proc/net/snmp Tcp OutSegs delta / seconds"},
    {"TCPv4", "Segments/sec", CounterKind::rate, kSnmp, segments, "",
     "TCP segments received plus sent per second (IPv6 included)",
     "/proc/net/snmp Tcp (InSegs+OutSegs) deltas / seconds"},
    {"TCPv4", "Segments Retransmitted/sec", CounterKind::rate, kSnmp, retransmitted, "",
     "TCP segments retransmitted per second (IPv6 included)",
     "/proc/net/snmp Tcp RetransSegs delta / seconds"},
};

}  // namespace

const ObjectDef& tcpv4_object() {
  static const ObjectDef def{"TCPv4", false, kCounters, pass};
  return def;
}

}  // namespace perfdata::linux_backend
