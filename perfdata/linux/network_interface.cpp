#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// Network Interface: per-interface counters from /proc/net/dev, the link
// speed from /sys/class/net/<if>/speed.
#include <cerrno>

#include "perfdata/counter_types.h"
#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

enum : uint32_t { kDev = 1, kSpeed = 2 };
// Sample layout: u[0..15] the /proc/net/dev columns; f[0] bits per second.
enum : size_t {
  kRxBytes = 0,
  kRxPackets = 1,
  kRxErrs = 2,
  kRxDrop = 3,
  kTxBytes = 8,
  kTxPackets = 9,
  kTxErrs = 10,
  kTxDrop = 11,
  kColumns = 16
};

// Interface rows: the name ends at the first ':' (interface names cannot hold
// one) and the first number may touch it ("eth0:123 ...").
template <typename Fn>
void for_each_row(std::string_view text, Fn fn) {
  for (std::string_view line : split_lines(text)) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = trim(line.substr(0, colon));
    if (name.empty()) continue;
    if (fn(name, line.substr(colon + 1))) return;
  }
}

// Mb/s; -1 (unknown), EINVAL (loopback, virtual links) and a missing file all
// mean the speed is not known, which Windows shows as 0.
double speed_bits(const Env& env, const std::string& ifname) {
  std::string text;
  if (!read_file(env, "sys/class/net/" + ifname + "/speed", text)) return 0.0;
  std::vector<std::string_view> tok = split_ws(text);
  int64_t mbps = 0;
  if (tok.empty() || !parse_i64(tok[0], mbps) || mbps <= 0) return 0.0;
  return static_cast<double>(mbps) * 1e6;
}

// One read of /proc/net/dev gives every interface; the speed file is read
// only for the interfaces whose counters need it.
void pass(const Env& env, const Request& req, Pass& out) {
  std::string text;
  if (!read_file(env, "proc/net/dev", text)) {
    out.problem = read_problem("proc/net/dev", errno);
    return;
  }
  out.ok = true;
  for_each_row(text, [&](std::string_view name, std::string_view rest) {
    std::string key(name);
    if (!req.wants(key)) return false;
    const uint32_t needs = req.needs_of(key);
    Sample& s = add_instance(out, Instance{mangle(name), key, 0, 0});
    s.u.assign(kColumns, 0);
    s.f.assign(1, 0.0);
    std::vector<std::string_view> tok = split_ws(rest);
    s.ok = tok.size() >= kColumns;
    for (size_t i = 0; s.ok && i < kColumns; ++i) s.ok = parse_u64(tok[i], s.u[i]);
    if (needs & kSpeed) s.f[0] = speed_bits(env, key);
    return false;
  });
}

bool bandwidth(const Sample& s, int64_t, const Env&, RawCounter& out) {
  out.first_value = static_cast<int64_t>(s.f[0]);
  return true;
}

// rtnl_link_stats64 is 64 bits on every kernel: the rates are 64-bit
// counts, and a drop is a reset.
constexpr CounterDef kCounters[] = {
    {"Network Interface", "Bytes Received/sec", CounterKind::rate, kDev, nullptr, "",
     "Bytes received per second, link-layer headers included",
     "/proc/net/dev rx bytes delta / seconds",
     bulk_count(slots_per_stamp<kRxBytes>, "first value rx bytes; second value the time stamp")},
    {"Network Interface", "Bytes Sent/sec", CounterKind::rate, kDev, nullptr, "",
     "Bytes sent per second, link-layer headers included", "/proc/net/dev tx bytes delta / seconds",
     bulk_count(slots_per_stamp<kTxBytes>, "first value tx bytes; second value the time stamp")},
    {"Network Interface", "Bytes Total/sec", CounterKind::rate, kDev, nullptr, "",
     "Bytes received plus sent per second", "/proc/net/dev (rx+tx bytes) deltas / seconds",
     bulk_count(slots_per_stamp<kRxBytes, kTxBytes>,
                "first value rx+tx bytes; second value the time stamp")},
    {"Network Interface", "Packets Received/sec", CounterKind::rate, kDev, nullptr, "",
     "Packets received per second", "/proc/net/dev rx packets delta / seconds",
     bulk_count(slots_per_stamp<kRxPackets>,
                "first value rx packets; second value the time stamp")},
    {"Network Interface", "Packets Sent/sec", CounterKind::rate, kDev, nullptr, "",
     "Packets sent per second", "/proc/net/dev tx packets delta / seconds",
     bulk_count(slots_per_stamp<kTxPackets>,
                "first value tx packets; second value the time stamp")},
    {"Network Interface", "Packets/sec", CounterKind::rate, kDev, nullptr, "",
     "Packets received plus sent per second", "/proc/net/dev (rx+tx packets) deltas / seconds",
     bulk_count(slots_per_stamp<kRxPackets, kTxPackets>,
                "first value rx+tx packets; second value the time stamp")},
    {"Network Interface", "Current Bandwidth", CounterKind::gauge, kDev | kSpeed, nullptr, "",
     "Link speed in bits per second; 0 when unknown",
     "/sys/class/net/<if>/speed (Mb/s)*10^6, 0 when -1 or unreadable",
     large_count(bandwidth, "first value the bit/s")},
    {"Network Interface", "Packets Received Errors", CounterKind::count, kDev, nullptr, "",
     "Received packets with errors since the interface came up", "/proc/net/dev rx errs",
     large_count(slots_now<kRxErrs>)},
    {"Network Interface", "Packets Outbound Errors", CounterKind::count, kDev, nullptr, "",
     "Packets that could not be sent because of errors, since the interface came up",
     "/proc/net/dev tx errs", large_count(slots_now<kTxErrs>)},
    {"Network Interface", "Packets Received Discarded", CounterKind::count, kDev, nullptr, "",
     "Received packets dropped, since the interface came up", "/proc/net/dev rx drop",
     large_count(slots_now<kRxDrop>)},
    {"Network Interface", "Packets Outbound Discarded", CounterKind::count, kDev, nullptr, "",
     "Outgoing packets dropped, since the interface came up", "/proc/net/dev tx drop",
     large_count(slots_now<kTxDrop>)},
};

}  // namespace

const ObjectDef& network_interface_object() {
  static const ObjectDef def{"Network Interface", true, kCounters, pass};
  return def;
}

}  // namespace perfdata::linux_backend
