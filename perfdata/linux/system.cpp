#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// System: process and thread counts from /proc/<pid>, context switches and
// the run queue from /proc/stat, the up time from /proc/uptime.
#include <cstdlib>

#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

enum : uint32_t { kStat = 1, kUptime = 2, kPids = 4, kThreads = 8 };
enum : size_t { kCtxt, kRunning, kCpus, kProcesses, kThreadCount, kSlots };

bool is_pid(std::string_view name) {
  uint64_t v = 0;
  return parse_u64(name, v);
}

// num_threads (field 20) of one /proc/<pid>/stat text; comm may hold ')' and
// spaces, so fields are counted from the last ')'.
bool stat_threads(std::string_view stat, uint64_t& out) {
  size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return false;
  std::vector<std::string_view> tok = split_ws(stat.substr(close + 1));
  return tok.size() > 17 && parse_u64(tok[17], out);
}

void collect(const Env& env, uint32_t needs, Sample& out) {
  out.u.assign(kSlots, 0);
  out.f.assign(1, 0.0);
  out.ok = true;
  std::string text;
  if (needs & kStat) {
    if (!read_file(env, "proc/stat", text)) out.missing |= kStat;
    bool have_ctxt = false, have_running = false;
    for (std::string_view line : split_lines(text)) {
      std::vector<std::string_view> tok = split_ws(line);
      if (tok.size() < 2) continue;
      if (tok[0] == "ctxt") {
        have_ctxt = parse_u64(tok[1], out.u[kCtxt]);
      } else if (tok[0] == "procs_running") {
        have_running = parse_u64(tok[1], out.u[kRunning]);
      } else if (tok[0].size() > 3 && tok[0].substr(0, 3) == "cpu") {
        ++out.u[kCpus];
      }
    }
    if (!have_ctxt || !have_running) out.missing |= kStat;
  }
  if (needs & kUptime) {
    double up = 0;
    if (!read_uptime(env, text, up)) out.missing |= kUptime;
    out.f[0] = up;
  }
  std::vector<std::string> names;
  if ((needs & (kPids | kThreads)) && !list_dir(env, "proc", names))
    out.missing |= kPids | kThreads;
  if (needs & (kPids | kThreads)) {
    for (const std::string& name : names) {
      if (!is_pid(name)) continue;
      if (needs & kThreads) {
        uint64_t n = 0;
        // A process that exited since readdir is simply not counted.
        if (!read_file(env, "proc/" + name + "/stat", text) || !stat_threads(text, n)) continue;
        out.u[kThreadCount] += n;
      }
      ++out.u[kProcesses];
    }
  }
}

void pass(const Env& env, const Request& req, Pass& out) {
  single_instance_pass(env, req, out, "proc/stat", collect);
}

Value processes(const Sample*, const Sample& c, double, const Env&) {
  return static_cast<double>(c.u[kProcesses]);
}
Value threads(const Sample*, const Sample& c, double, const Env&) {
  return static_cast<double>(c.u[kThreadCount]);
}
Value context_switches(const Sample* p, const Sample& c, double dt, const Env&) {
  std::optional<uint64_t> d = delta(p->u[kCtxt], c.u[kCtxt]);
  if (!d) return std::nullopt;
  return static_cast<double>(*d) / dt;
}
Value up_time(const Sample*, const Sample& c, double, const Env&) { return c.f[0]; }
// procs_running counts the running threads too; Windows counts only the ready
// ones that wait for a processor.
Value queue_length(const Sample*, const Sample& c, double, const Env&) {
  return c.u[kRunning] > c.u[kCpus] ? static_cast<double>(c.u[kRunning] - c.u[kCpus]) : 0.0;
}

constexpr CounterDef kCounters[] = {
    {"System", "Processes", CounterKind::gauge, kPids, processes, "", "Processes that exist now",
     "/proc/<pid>: number of these directories"},
    {"System", "Threads", CounterKind::gauge, kThreads, threads, "",
     "Threads of all processes that exist now", "/proc/<pid>/stat num_threads (field 20) summed"},
    {"System", "Context Switches/sec", CounterKind::rate, kStat, context_switches, "",
     "Context switches per second, all CPUs", "/proc/stat ctxt delta / seconds"},
    {"System", "System Up Time", CounterKind::elapsed, kUptime, up_time, "s", "Seconds since boot",
     "/proc/uptime first field"},
    {"System", "Processor Queue Length", CounterKind::gauge, kStat, queue_length, "",
     "Runnable threads waiting for a CPU",
     "/proc/stat max(0, procs_running - number of cpuN lines)"},
};

}  // namespace

const ObjectDef& system_object() {
  static const ObjectDef def{"System", false, kCounters, pass};
  return def;
}

}  // namespace perfdata::linux_backend
