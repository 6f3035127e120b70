#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// Process: one instance per /proc/<pid>, named by its comm, plus the
// synthetic Idle (the CPUs' idle time) and _Total.
//
// A process instance is pinned at add to (pid, starttime): a PID that exits,
// or is reused by a new process, reads as gone instead of mixing two
// processes into one delta. _Total keeps a per-PID table so its rates are
// sums of per-process deltas: an exited process drops out instead of making
// the sum go backwards, and a process that started during the interval
// contributes all its counts.
#include <algorithm>
#include <cerrno>
#include <cmath>

#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/pid_files.h"
#include "perfdata/linux/stat_file.h"
#include "perfdata/linux/system_calls.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

// Source bits.
constexpr uint32_t kStat = 1;     // /proc/<pid>/stat
constexpr uint32_t kStatus = 2;   // /proc/<pid>/status
constexpr uint32_t kIo = 4;       // /proc/<pid>/io
constexpr uint32_t kFd = 8;       // /proc/<pid>/fd/
constexpr uint32_t kUptime = 16;  // /proc/uptime
constexpr uint32_t kCpu = 32;     // the cpu line of /proc/stat, for Idle

// Sample.u layout, for one process, Idle, or the sums of _Total.
enum Field {
  kUtime,
  kStime,
  kFaults,
  kThreads,
  kPpid,
  kPid,
  kStart,
  kRss,
  kHwm,
  kAnon,
  kPrivate,
  kVsize,
  kVpeak,
  kRchar,
  kWchar,
  kSyscr,
  kSyscw,
  kHandles,
  kIdleTicks,  // idle + iowait of all CPUs (Idle and _Total only)
  // _Total only: what its sums need added to keep counting up (see carry).
  kKeptUtime,
  kKeptStime,
  kKeptFaults,
  kKeptRchar,
  kKeptWchar,
  kKeptSyscr,
  kKeptSyscw,
  kFieldCount
};

// One row of _Total's per-PID table.
struct PidCounts {
  int64_t pid = 0;
  uint64_t start = 0;
  uint64_t utime = 0, stime = 0, faults = 0;
  uint64_t rchar = 0, wchar = 0, syscr = 0, syscw = 0;
  bool io_ok = false;
};

struct PidTable {
  std::vector<PidCounts> rows;  // sorted by pid
};

constexpr const char kTotal[] = "_Total";
constexpr const char kIdle[] = "Idle";

bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string pid_path(std::string_view pid, std::string_view file) {
  std::string rel = "proc/";
  rel.append(pid);
  rel.push_back('/');
  rel.append(file);
  return rel;
}

bool read_idle_ticks(const Env& env, std::string& buf, uint64_t& ticks) {
  if (!read_file(env, "proc/stat", buf)) return false;
  ProcStat stat;
  parse_proc_stat(buf, stat);
  for (const CpuLine& c : stat.cpus) {
    if (c.cpu != -1) continue;
    ticks = c.ticks[3] + c.ticks[4];
    return c.ok;
  }
  return false;
}

// Whether the process exited while being read, after one of its files
// failed: its directory is gone. Otherwise the file is there but unreadable
// (EACCES on another user's io or fd) or malformed.
bool vanished(const Env& env, const std::string& pid) {
  return system_calls.lstat(source(env, "proc/" + pid).c_str()) != 0;
}

void add_status(const PidStatus& st, Sample& out) {
  out.u[kHwm] += st.vm_hwm * 1024;
  out.u[kAnon] += st.rss_anon * 1024;
  out.u[kPrivate] += (st.vm_data + st.vm_stk) * 1024;
  out.u[kVsize] += st.vm_size * 1024;
  out.u[kVpeak] += st.vm_peak * 1024;
}

// Marks `bit` missing for a file of a process that is still there, with
// the reason when the read failed for one.
void file_failed(const std::string& rel, int error, uint32_t bit, Sample& out) {
  out.missing |= bit;
  if (out.problem.empty()) out.problem = read_problem(rel, error);
}

// Reads one process: stat always (it names the process and proves it is
// the one pinned), then only the files `needs` names. False when the
// process is gone, or hidden from this user (EACCES on its stat, as
// hidepid gives); a stat that fails otherwise (no free descriptor, an I/O
// error) sets `failure`, since leaving the process out would pass for its end.
bool read_process(const Env& env, const std::string& pid, uint32_t needs, std::string& buf,
                  PidStat& st, Sample& out, std::string& failure) {
  const std::string rel = pid_path(pid, "stat");
  if (!read_file(env, rel, buf)) {
    if (errno != EACCES) failure = read_problem(rel, errno);
    return false;
  }
  if (!parse_pid_stat(buf, st)) return false;
  out.ok = true;
  out.u.assign(kFieldCount, 0);
  out.u[kUtime] = st.utime;
  out.u[kStime] = st.stime;
  out.u[kFaults] = st.minflt + st.majflt;
  out.u[kThreads] = static_cast<uint64_t>(std::max<int64_t>(st.num_threads, 0));
  out.u[kPpid] = static_cast<uint64_t>(std::max<int64_t>(st.ppid, 0));
  out.u[kPid] = static_cast<uint64_t>(st.pid);
  out.u[kStart] = st.starttime;
  out.u[kRss] = st.rss * static_cast<uint64_t>(env.page_size);
  if (needs & kStatus) {
    PidStatus status;
    const std::string file = pid_path(pid, "status");
    if (read_file(env, file, buf) && parse_pid_status(buf, status)) {
      add_status(status, out);
    } else if (const int error = errno; vanished(env, pid)) {
      return false;
    } else {
      file_failed(file, error, kStatus, out);
    }
  }
  if (needs & kIo) {
    PidIo io;
    const std::string file = pid_path(pid, "io");
    if (read_file(env, file, buf) && parse_pid_io(buf, io)) {
      out.u[kRchar] = io.rchar;
      out.u[kWchar] = io.wchar;
      out.u[kSyscr] = io.syscr;
      out.u[kSyscw] = io.syscw;
    } else if (const int error = errno; vanished(env, pid)) {
      return false;
    } else {
      file_failed(file, error, kIo, out);
    }
  }
  if (needs & kFd) {
    std::vector<std::string> entries;
    const std::string dir = pid_path(pid, "fd");
    if (list_dir(env, dir, entries)) {
      out.u[kHandles] = entries.size();
    } else if (const int error = errno; vanished(env, pid)) {
      return false;
    } else {
      file_failed(dir, error, kFd, out);
    }
  }
  return true;
}

// One process read by a pass.
struct Proc {
  Instance inst;
  Sample sample;
};

// What Idle and _Total share, read once per pass: the CPUs' idle ticks and
// the uptime.
struct SystemParts {
  std::optional<uint64_t> idle_ticks;
  std::optional<double> uptime;
};

void system_sample(const SystemParts& parts, uint32_t needs, Sample& out) {
  out.ok = true;
  out.u.assign(kFieldCount, 0);
  if (needs & kCpu) {
    if (parts.idle_ticks) {
      out.u[kIdleTicks] = *parts.idle_ticks;
    } else {
      out.missing |= kCpu;
    }
  }
  if (needs & kUptime) {
    if (parts.uptime) {
      out.f = {*parts.uptime};
    } else {
      out.missing |= kUptime;
    }
  }
}

// _Total: gauges summed over the processes that could be read, and a per-PID
// table of the cumulative counts for the rates.
void sum_into(const std::vector<Proc>& procs, Sample& total) {
  auto table = std::make_shared<PidTable>();
  table->rows.reserve(procs.size());
  for (const Proc& p : procs) {
    const Sample& s = p.sample;
    PidCounts row;
    row.pid = p.inst.id;
    row.start = p.inst.start;
    row.utime = s.u[kUtime];
    row.stime = s.u[kStime];
    row.faults = s.u[kFaults];
    total.u[kThreads] += s.u[kThreads];
    total.u[kRss] += s.u[kRss];
    if (!(s.missing & kStatus)) {
      for (Field f : {kHwm, kAnon, kPrivate, kVsize, kVpeak}) total.u[f] += s.u[f];
    }
    if (!(s.missing & kFd)) total.u[kHandles] += s.u[kHandles];
    row.io_ok = !(s.missing & kIo);
    row.rchar = s.u[kRchar];
    row.wchar = s.u[kWchar];
    row.syscr = s.u[kSyscr];
    row.syscw = s.u[kSyscw];
    table->rows.push_back(row);
  }
  std::sort(table->rows.begin(), table->rows.end(),
            [](const PidCounts& a, const PidCounts& b) { return a.pid < b.pid; });
  total.payload = std::move(table);
}

// One pass: every process (readdir of /proc, then each one's files once) or
// only the pinned ones; _Total and Idle from the same reads.
void pass(const Env& env, const Request& req, Pass& out) {
  std::vector<std::string> pids;
  if (req.every || req.pins.empty()) {
    if (!list_dir(env, "proc", pids)) {
      out.problem = read_problem("proc", errno);
      return;
    }
    std::erase_if(pids, [](const std::string& e) { return !all_digits(e); });
    // An empty /proc is no procfs (a container without it): no processes
    // to serve, not a machine without any.
    if (pids.empty()) return;
    out.ok = true;
    if (!req.every) return;  // only the source was asked about
  } else {
    out.ok = true;
    for (const auto& pin : req.pins)
      if (all_digits(pin.first) && pin.first != "0") pids.push_back(pin.first);
  }
  const uint32_t all = req.all_needs();
  std::string buf;
  SystemParts parts;
  double seconds = 0;
  uint64_t ticks = 0;
  if ((all & kUptime) && read_uptime(env, buf, seconds)) parts.uptime = seconds;
  if ((all & kCpu) && (req.wants("") || req.wants("0")) && read_idle_ticks(env, buf, ticks))
    parts.idle_ticks = ticks;
  const std::optional<double>& up = parts.uptime;
  std::vector<Proc> procs;
  procs.reserve(pids.size());
  for (const std::string& pid : pids) {
    Proc p;
    PidStat st;
    const uint32_t needs = req.needs_of(pid);
    // A PID listed but gone before its files were read is simply not there.
    std::string failure;
    if (!read_process(env, pid, needs, buf, st, p.sample, failure)) {
      if (failure.empty()) continue;
      out = Pass{};
      out.problem = std::move(failure);
      return;
    }
    if (needs & kUptime) {
      if (up) {
        p.sample.f = {*up};
      } else {
        p.sample.missing |= kUptime;
      }
    }
    p.inst = Instance{mangle(st.comm), pid, st.pid, st.starttime};
    procs.push_back(std::move(p));
  }
  // Namesakes get '#k' in start order, so older processes keep lower indexes.
  std::sort(procs.begin(), procs.end(), [](const Proc& a, const Proc& b) {
    return a.inst.start != b.inst.start ? a.inst.start < b.inst.start : a.inst.id < b.inst.id;
  });
  out.instances.reserve(procs.size() + 2);
  out.samples.reserve(procs.size() + 2);
  if (req.wants("")) {
    Sample& total = add_instance(out, Instance{kTotal, "", -1, 0});
    system_sample(parts, req.needs_of(""), total);
    sum_into(procs, total);
  }
  if (req.wants("0")) {
    system_sample(parts, req.needs_of("0"), add_instance(out, Instance{kIdle, "0", 0, 0}));
  }
  for (Proc& p : procs) {
    out.instances.push_back(std::move(p.inst));
    out.samples.push_back(std::move(p.sample));
  }
}

// --------------------------------------------------------------- raw forms

using PidField = uint64_t PidCounts::*;

// The cumulative counts of _Total, by the field of a process they sum,
// the slot that keeps them counting, and whether they come from io.
struct Summed {
  PidField field;
  Field kept;
  bool io;
};
constexpr Summed kSummed[] = {
    {&PidCounts::utime, kKeptUtime, false},   {&PidCounts::stime, kKeptStime, false},
    {&PidCounts::faults, kKeptFaults, false}, {&PidCounts::rchar, kKeptRchar, true},
    {&PidCounts::wchar, kKeptWchar, true},    {&PidCounts::syscr, kKeptSyscr, true},
    {&PidCounts::syscw, kKeptSyscw, true},
};

template <class P>
auto* total_of(P& pass) {
  decltype(&pass.samples[0]) found = nullptr;
  for (size_t i = 0; i < pass.instances.size() && found == nullptr; ++i)
    if (pass.instances[i].id == -1 && pass.instances[i].key.empty()) found = &pass.samples[i];
  return found;
}

// A sum over the processes of one pass drops when one ends, which would read
// as a reset. _Total's count is the sum of the processes that are there plus
// what the ended ones had counted when last seen, so it only counts up: the
// increase between two passes is then the per-process increases plus the
// whole counts of processes that started in between. A process whose io
// became unreadable keeps its last io counts the same way; one whose io
// became readable enters with what it has counted so far taken back, so it
// adds only its later increases.
void carry(const Pass& prev, Pass& cur) {
  const Sample* before = total_of(prev);
  Sample* after = total_of(cur);
  if (before == nullptr || after == nullptr || before->u.size() != kFieldCount ||
      after->u.size() != kFieldCount)
    return;
  const auto* a = static_cast<const PidTable*>(before->payload.get());
  const auto* b = static_cast<const PidTable*>(after->payload.get());
  if (a == nullptr || b == nullptr) return;
  for (const Summed& f : kSummed) after->u[f.kept] = before->u[f.kept];
  after->reset = after->u[kIdleTicks] < before->u[kIdleTicks];
  auto j = b->rows.begin();
  for (const PidCounts& old : a->rows) {
    while (j != b->rows.end() && j->pid < old.pid) ++j;
    const bool same = j != b->rows.end() && j->pid == old.pid && j->start == old.start;
    for (const Summed& f : kSummed) {
      if (same && (!f.io || (old.io_ok && j->io_ok)) && (*j).*f.field < old.*f.field)
        after->reset = true;
      const bool was = !f.io || old.io_ok;
      const bool is = same && (!f.io || j->io_ok);
      if (was && !is) after->u[f.kept] += old.*f.field;
      if (!was && is) after->u[f.kept] -= (*j).*f.field;
    }
  }
}

// The count of `fields` of one process (Idle: 0), or of _Total: its table's
// sum over the processes (io fields over those whose io was readable) plus
// what carry kept.
uint64_t count(const Sample& s, std::initializer_list<size_t> which) {
  const auto* table = static_cast<const PidTable*>(s.payload.get());
  uint64_t sum = 0;
  for (size_t k : which) {
    const Summed& f = kSummed[k];
    if (table == nullptr) {
      static constexpr Field own[] = {kUtime, kStime, kFaults, kRchar, kWchar, kSyscr, kSyscw};
      sum += s.u[own[k]];
      continue;
    }
    sum += s.u[f.kept];
    for (const PidCounts& row : table->rows)
      if (!f.io || row.io_ok) sum += row.*f.field;
  }
  return sum;
}

enum : size_t { kU, kS, kF, kR, kW, kSr, kSw };

// CPU time in 100 ns against the time stamp; Idle's (and _Total's) includes
// the CPUs' idle time, which the idle loop spends in the kernel.
bool cpu_time(const Sample& s, int64_t stamp, const Env& env, RawCounter& out, uint64_t ticks,
              bool with_idle) {
  if (with_idle) ticks += s.u[kIdleTicks];
  out.first_value = ticks_100ns(ticks, env);
  out.second_value = stamp;
  return true;
}
bool processor_time(const Sample& s, int64_t stamp, const Env& env, RawCounter& out) {
  return cpu_time(s, stamp, env, out, count(s, {kU, kS}), true);
}
bool user_time(const Sample& s, int64_t stamp, const Env& env, RawCounter& out) {
  return cpu_time(s, stamp, env, out, count(s, {kU}), false);
}
bool privileged_time(const Sample& s, int64_t stamp, const Env& env, RawCounter& out) {
  return cpu_time(s, stamp, env, out, count(s, {kS}), true);
}

template <size_t K>
bool per_stamp(const Sample& s, int64_t stamp, const Env&, RawCounter& out) {
  out.first_value = static_cast<int64_t>(count(s, {K}));
  out.second_value = stamp;
  return true;
}

template <Field F>
bool gauge(const Sample& s, int64_t, const Env&, RawCounter& out) {
  out.first_value = static_cast<int64_t>(s.u[F]);
  return true;
}

// The start in 100 ns since boot (Idle and _Total: boot itself), and now as
// the up time; a start read after the up time counts as now.
bool elapsed_time(const Sample& s, int64_t, const Env& env, RawCounter& out) {
  if (s.f.empty() || !(s.f[0] >= 0.0)) return false;
  out.second_value = std::llround(s.f[0] * 1e7);
  out.first_value = s.u[kPid] == 0 ? 0 : std::min(ticks_100ns(s.u[kStart], env), out.second_value);
  return true;
}

constexpr RawForm cpu(RawFill fill, const char* form) {
  return {TYPE_100NSEC_TIMER, fill, TimeBase::stamp, false, form};
}
constexpr RawForm bytes(RawFill fill) { return large_count(fill, "first value the bytes"); }
constexpr RawForm number(RawFill fill) {
  return {TYPE_COUNTER_RAWCOUNT, fill, TimeBase::stamp, false, "first value the number"};
}

constexpr const char kObj[] = "Process";

const CounterDef kRows[] = {
    {kObj, "% Processor Time", CounterKind::percent, kStat | kCpu, nullptr, "%",
     "CPU time of all the process's threads as a share of one CPU (can pass 100); Idle: idle CPU "
     "time",
     "/proc/<pid>/stat 100*(utime+stime) deltas/HZ / seconds; Idle: /proc/stat idle+iowait",
     cpu(processor_time,
         "first value utime+stime in 100 ns (Idle: idle+iowait; _Total: all, ended processes "
         "kept); second value the time stamp")},
    {kObj, "% User Time", CounterKind::percent, kStat | kCpu, nullptr, "%",
     "User-mode CPU time as a share of one CPU", "/proc/<pid>/stat 100*utime delta/HZ / seconds",
     cpu(user_time, "first value utime in 100 ns; second value the time stamp")},
    {kObj, "% Privileged Time", CounterKind::percent, kStat | kCpu, nullptr, "%",
     "Kernel-mode CPU time as a share of one CPU", "/proc/<pid>/stat 100*stime delta/HZ / seconds",
     cpu(privileged_time,
         "first value stime in 100 ns (Idle and _Total: with idle+iowait); second value the time "
         "stamp")},
    {kObj, "Working Set", CounterKind::gauge, kStat, nullptr, "B", "Resident memory",
     "/proc/<pid>/stat rss (field 24) * page size", bytes(gauge<kRss>)},
    {kObj, "Working Set Peak", CounterKind::gauge, kStatus, nullptr, "B",
     "Largest resident memory so far", "/proc/<pid>/status VmHWM*1024", bytes(gauge<kHwm>)},
    {kObj, "Working Set - Private", CounterKind::gauge, kStatus, nullptr, "B",
     "Resident anonymous memory", "/proc/<pid>/status RssAnon*1024", bytes(gauge<kAnon>)},
    {kObj, "Private Bytes", CounterKind::gauge, kStatus, nullptr, "B",
     "Private writable memory charged to commit", "/proc/<pid>/status (VmData+VmStk)*1024",
     bytes(gauge<kPrivate>)},
    {kObj, "Virtual Bytes", CounterKind::gauge, kStatus, nullptr, "B", "Size of the address space",
     "/proc/<pid>/status VmSize*1024", bytes(gauge<kVsize>)},
    {kObj, "Virtual Bytes Peak", CounterKind::gauge, kStatus, nullptr, "B",
     "Largest address space so far", "/proc/<pid>/status VmPeak*1024", bytes(gauge<kVpeak>)},
    {kObj, "Thread Count", CounterKind::gauge, kStat, nullptr, "", "Threads of the process",
     "/proc/<pid>/stat num_threads (field 20)", number(gauge<kThreads>)},
    {kObj, "Handle Count", CounterKind::gauge, kFd, nullptr, "", "Open file descriptors",
     "/proc/<pid>/fd: number of entries", number(gauge<kHandles>)},
    {kObj, "ID Process", CounterKind::gauge, kStat, nullptr, "",
     "Process ID (0 for Idle and _Total)", "/proc/<pid>/stat pid", number(gauge<kPid>)},
    {kObj, "Creating Process ID", CounterKind::gauge, kStat, nullptr, "", "Parent process ID",
     "/proc/<pid>/stat ppid (field 4)", number(gauge<kPpid>)},
    {kObj,
     "Elapsed Time",
     CounterKind::elapsed,
     kStat | kUptime,
     nullptr,
     "s",
     "Seconds since the process started (_Total and Idle: since boot)",
     "/proc/uptime - /proc/<pid>/stat starttime/HZ",
     {TYPE_ELAPSED_TIME, elapsed_time, TimeBase::stamp, false,
      "first value starttime in 100 ns since boot (Idle and _Total: 0); second value the up time "
      "in 100 ns"}},
    {kObj, "IO Read Bytes/sec", CounterKind::rate, kIo, nullptr, "",
     "Bytes read per second by read-family calls: files, sockets, pipes, devices",
     "/proc/<pid>/io rchar delta / seconds",
     bulk_count(per_stamp<kR>, "first value rchar; second value the time stamp")},
    {kObj, "IO Write Bytes/sec", CounterKind::rate, kIo, nullptr, "",
     "Bytes written per second by write-family calls: files, sockets, pipes, devices",
     "/proc/<pid>/io wchar delta / seconds",
     bulk_count(per_stamp<kW>, "first value wchar; second value the time stamp")},
    {kObj, "IO Read Operations/sec", CounterKind::rate, kIo, nullptr, "",
     "Read-family calls per second", "/proc/<pid>/io syscr delta / seconds",
     bulk_count(per_stamp<kSr>, "first value syscr; second value the time stamp")},
    {kObj, "IO Write Operations/sec", CounterKind::rate, kIo, nullptr, "",
     "Write-family calls per second", "/proc/<pid>/io syscw delta / seconds",
     bulk_count(per_stamp<kSw>, "first value syscw; second value the time stamp")},
    {kObj, "Page Faults/sec", CounterKind::rate, kStat, nullptr, "",
     "Page faults per second, soft and hard", "/proc/<pid>/stat (minflt+majflt) deltas / seconds",
     bulk_count(per_stamp<kF>, "first value minflt+majflt; second value the time stamp")},
};

}  // namespace

const ObjectDef& process_object() {
  // comm is cut to 15 bytes by the kernel (TASK_COMM_LEN), so a longer
  // request is matched on its first 15 bytes.
  static const ObjectDef obj{"Process", true, kRows, pass, false, 15, carry};
  return obj;
}

}  // namespace perfdata::linux_backend
