#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// System: process and thread counts from /proc/<pid>, context switches and
// the run queue from /proc/stat, the up time from /proc/uptime.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "perfdata/counter_types.h"
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

bool processes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  out.first_value = static_cast<int64_t>(s.u[kProcesses]);
  return true;
}
bool threads(const Sample& s, int64_t, const Env&, RawCounter& out) {
  out.first_value = static_cast<int64_t>(s.u[kThreadCount]);
  return true;
}
bool context_switches(const Sample& s, int64_t stamp, const Env&, RawCounter& out) {
  out.first_value = static_cast<int64_t>(s.u[kCtxt]);
  out.second_value = stamp;
  return true;
}
// Boot is the start; the up time, in 100 ns, is now.
bool up_time(const Sample& s, int64_t, const Env&, RawCounter& out) {
  if (!(s.f[0] >= 0.0)) return false;
  out.first_value = 0;
  out.second_value = std::llround(s.f[0] * 1e7);
  return true;
}
// procs_running counts the running threads too; Windows counts only the ready
// ones that wait for a processor.
bool queue_length(const Sample& s, int64_t, const Env&, RawCounter& out) {
  out.first_value =
      s.u[kRunning] > s.u[kCpus] ? static_cast<int64_t>(s.u[kRunning] - s.u[kCpus]) : 0;
  return true;
}

constexpr CounterDef kCounters[] = {
    {"System",
     "Processes",
     CounterKind::gauge,
     kPids,
     nullptr,
     "",
     "Processes that exist now",
     "/proc/<pid>: number of these directories",
     {TYPE_COUNTER_RAWCOUNT, processes, TimeBase::stamp, false, "first value the count"}},
    {"System",
     "Threads",
     CounterKind::gauge,
     kThreads,
     nullptr,
     "",
     "Threads of all processes that exist now",
     "/proc/<pid>/stat num_threads (field 20) summed",
     {TYPE_COUNTER_RAWCOUNT, threads, TimeBase::stamp, false, "first value the count"}},
    {"System", "Context Switches/sec", CounterKind::rate, kStat, nullptr, "",
     "Context switches per second, all CPUs", "/proc/stat ctxt delta / seconds",
     bulk_count(context_switches,
                "first value ctxt (64 bits on every kernel); second value the time stamp")},
    {"System",
     "System Up Time",
     CounterKind::elapsed,
     kUptime,
     nullptr,
     "s",
     "Seconds since boot",
     "/proc/uptime first field",
     {TYPE_ELAPSED_TIME, up_time, TimeBase::stamp, false,
      "first value 0 (boot); second value the up time in 100 ns"}},
    {"System",
     "Processor Queue Length",
     CounterKind::gauge,
     kStat,
     nullptr,
     "",
     "Runnable threads waiting for a CPU",
     "/proc/stat max(0, procs_running - number of cpuN lines)",
     {TYPE_COUNTER_RAWCOUNT, queue_length, TimeBase::stamp, false, "first value the count"}},
};

}  // namespace

const ObjectDef& system_object() {
  static const ObjectDef def{"System", false, kCounters, pass};
  return def;
}

}  // namespace perfdata::linux_backend
