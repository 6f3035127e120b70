#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// System: process and thread counts from /proc/<pid>, context switches and
// the run queue from /proc/stat, the up time from /proc/uptime.
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/pid_files.h"
#include "perfdata/linux/stat_file.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

enum : uint32_t { kStat = 1, kUptime = 2, kPids = 4, kThreads = 8 };
enum : size_t { kCtxt, kRunning, kCpus, kProcesses, kThreadCount, kSlots };

bool is_pid(std::string_view name) {
  uint64_t v = 0;
  return parse_u64(name, v);
}

void collect(const Env& env, uint32_t needs, Sample& out) {
  out.u.assign(kSlots, 0);
  out.f.assign(1, 0.0);
  out.ok = true;
  std::string text;
  if (needs & kStat) {
    ProcStat stat;
    if (read_file(env, "proc/stat", text)) {
      parse_proc_stat(text, stat);
    } else {
      out.missing |= kStat;
      out.problem = read_problem("proc/stat", errno);
    }
    out.u[kCtxt] = stat.ctxt;
    out.u[kRunning] = stat.procs_running;
    for (const CpuLine& c : stat.cpus) out.u[kCpus] += c.cpu >= 0 ? 1 : 0;
    if (!stat.has_ctxt || !stat.has_running) out.missing |= kStat;
  }
  if (needs & kUptime) {
    double up = 0;
    if (!read_uptime(env, text, up)) {
      out.missing |= kUptime;
      if (out.problem.empty()) out.problem = read_problem("proc/uptime", errno);
    }
    out.f[0] = up;
  }
  std::vector<std::string> names;
  if ((needs & (kPids | kThreads)) && !list_dir(env, "proc", names)) {
    out.missing |= kPids | kThreads;
    if (out.problem.empty()) out.problem = read_problem("proc", errno);
  }
  if (needs & (kPids | kThreads)) {
    PidStat stat;
    for (const std::string& name : names) {
      if (!is_pid(name)) continue;
      if (needs & kThreads) {
        const std::string rel = "proc/" + name + "/stat";
        if (!read_file(env, rel, text) || !parse_pid_stat(text, stat)) {
          // A process that exited since readdir is simply not counted; one
          // that could not be read leaves the count unknown.
          const int error = errno;
          if (std::string why = read_problem(rel, error); !why.empty() && error != EACCES) {
            out.missing |= kThreads;
            if (out.problem.empty()) out.problem = std::move(why);
          }
          continue;
        }
        out.u[kThreadCount] += static_cast<uint64_t>(std::max<int64_t>(stat.num_threads, 0));
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
