#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// Processor: per-CPU and total tick counts from /proc/stat, interrupt counts
// from /proc/interrupts.
#include <cerrno>
#include <memory>
#include <optional>
#include <unordered_map>

#include "perfdata/counter_types.h"
#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/stat_file.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

enum : uint32_t { kStat = 1, kInterrupts = 2 };
// Sample layout: u[0..7] user nice system idle iowait irq softirq steal,
// u[kCpu] the CPU number + 1 (0 for _Total); payload the interrupt table.
enum : size_t { U, N, S, I, W, Q, SQ, ST, kFields, kCpu = kFields, kSlots };

// The per-CPU cells of /proc/interrupts kept by one pass: one row per
// interrupt line, one column per CPU kept, each cell the kernel's 32-bit count.
struct IrqTable {
  std::vector<int64_t> cpus;        // CPU number of each kept column
  std::vector<std::string> labels;  // "0:", "NMI:", ... in file order
  // One vector per row, each exactly one cell per kept column: a single
  // block would double its capacity while growing, and /proc/interrupts on a
  // large machine holds hundreds of thousands of cells.
  std::vector<std::vector<uint32_t>> cells;

  std::vector<long> by_cpu;  // kept column of each CPU number, -1 for none

  // The kept column of `cpu`, or -1.
  long column(int64_t cpu) const {
    return cpu >= 0 && static_cast<size_t>(cpu) < by_cpu.size() ? by_cpu[static_cast<size_t>(cpu)]
                                                                : -1;
  }
};

// Reads /proc/interrupts line by line, keeping the columns `keep` accepts.
// Columns are found by their "CPUn" header because offline CPUs drop out;
// error totals (x86 "ERR:" and "MIS:", arm64 "Err:") and other rows with
// fewer numbers than CPUs are left out.
template <typename Keep>
bool read_interrupts(const Env& env, Keep keep, IrqTable& table) {
  bool header = true, ok = true;
  std::vector<long> kept;  // header position of each kept column
  size_t ncols = 0;
  std::vector<std::string_view> tok;
  bool read = read_lines(env, "proc/interrupts", [&](std::string_view line) {
    tok = split_ws(line);
    if (header) {
      header = false;
      ncols = tok.size();
      for (size_t i = 0; i < tok.size(); ++i) {
        uint64_t n = 0;
        if (tok[i].substr(0, 3) != "CPU" || !parse_u64(tok[i].substr(3), n) || n > 1000000)
          continue;
        if (!keep(static_cast<int64_t>(n))) continue;
        kept.push_back(static_cast<long>(i));
        if (table.by_cpu.size() <= n) table.by_cpu.resize(n + 1, -1);
        table.by_cpu[n] = static_cast<long>(table.cpus.size());
        table.cpus.push_back(static_cast<int64_t>(n));
      }
      ok = ncols > 0;
      return;
    }
    if (tok.size() < ncols + 1 || tok[0].back() != ':') return;
    if (tok[0] == "ERR:" || tok[0] == "MIS:" || tok[0] == "Err:") return;
    uint64_t v = 0;
    for (size_t c = 0; c < ncols; ++c)
      if (!parse_u64(tok[c + 1], v)) return;  // a single-value row such as ERR or MIS
    table.labels.emplace_back(tok[0]);
    std::vector<uint32_t>& row = table.cells.emplace_back();
    row.reserve(kept.size());
    for (long c : kept) {
      parse_u64(tok[static_cast<size_t>(c) + 1], v);
      row.push_back(static_cast<uint32_t>(v));
    }
  });
  return read && ok && !header;
}

// One read of /proc/stat gives every CPU and the total; one read of
// /proc/interrupts gives the cells of every CPU asked for (all of them
// when the total is).
void pass(const Env& env, const Request& req, Pass& out) {
  std::string text;
  if (!read_file(env, "proc/stat", text)) {
    out.problem = read_problem("proc/stat", errno);
    return;
  }
  out.ok = true;
  const uint32_t needs = req.all_needs();
  bool all_columns = req.every;
  ProcStat stat;
  parse_proc_stat(text, stat);
  for (const CpuLine& line : stat.cpus) {
    std::string key(line.label);
    if (!req.wants(key)) continue;
    const int64_t cpu = line.cpu;
    Instance inst{cpu == -1 ? "_Total" : std::string(line.label.substr(3)), key, cpu, 0};
    Sample& s = add_instance(out, std::move(inst));
    s.u.assign(line.ticks, line.ticks + kFields);
    s.u.push_back(static_cast<uint64_t>(cpu + 1));
    s.ok = (needs & kStat) == 0 || line.ok;
    if (cpu == -1) all_columns = true;
  }
  if ((needs & kInterrupts) == 0) return;
  auto table = std::make_shared<IrqTable>();
  const Request& r = req;
  bool read = read_interrupts(
      env, [&](int64_t cpu) { return all_columns || r.wants("cpu" + std::to_string(cpu)); },
      *table);
  const std::string problem = read ? std::string() : read_problem("proc/interrupts", errno);
  for (size_t i = 0; i < out.instances.size(); ++i) {
    const int64_t cpu = out.instances[i].id;
    if (!read || (cpu >= 0 && table->column(cpu) < 0)) {
      out.samples[i].missing |= kInterrupts;
      out.samples[i].problem = problem;
    } else {
      out.samples[i].payload = table;
    }
  }
}

// The ticks of `fields` and of all fields, in 100 ns. The kernel may move
// ticks of a CPU's current idle spell from iowait to idle between two
// reads, so iowait alone may go backwards; idle + iowait may not, and is
// always read as one field.
bool share(const Sample& s, const Env& env, RawCounter& out, std::initializer_list<size_t> fields) {
  uint64_t part = 0, total = 0;
  for (size_t f : fields) part += f == I ? s.u[I] + s.u[W] : s.u[f];
  for (size_t f = 0; f < kFields; ++f) total += s.u[f];
  out.first_value = ticks_100ns(part, env);
  out.second_value = ticks_100ns(total, env);
  return true;
}

// A field that went back (idle + iowait as one) is a reset of the CPU's
// counters, which a sum of fields might hide.
void carry(const Pass& prev, Pass& cur) {
  std::unordered_map<std::string_view, size_t> before;
  for (size_t i = 0; i < prev.instances.size(); ++i) before.emplace(prev.instances[i].key, i);
  for (size_t i = 0; i < cur.instances.size(); ++i) {
    auto it = before.find(cur.instances[i].key);
    if (it == before.end()) continue;
    const Sample& a = prev.samples[it->second];
    Sample& b = cur.samples[i];
    if (a.u.size() < kFields || b.u.size() < kFields) continue;
    for (size_t k : {U, N, S, Q, SQ, ST}) b.reset = b.reset || b.u[k] < a.u[k];
    b.reset = b.reset || b.u[I] + b.u[W] < a.u[I] + a.u[W];
  }
}

bool idle_share(const Sample& s, int64_t, const Env& env, RawCounter& out) {
  return share(s, env, out, {I});
}
bool user_share(const Sample& s, int64_t, const Env& env, RawCounter& out) {
  return share(s, env, out, {U, N});
}
bool privileged_share(const Sample& s, int64_t, const Env& env, RawCounter& out) {
  return share(s, env, out, {S, Q, SQ});
}
bool interrupt_share(const Sample& s, int64_t, const Env& env, RawCounter& out) {
  return share(s, env, out, {Q});
}
bool dpc_share(const Sample& s, int64_t, const Env& env, RawCounter& out) {
  return share(s, env, out, {SQ});
}

// Each cell is a 32-bit count: its wrap is undone before the cells are
// added, since a sum of wrapping cells does not wrap at 2^32. A line or CPU
// that appeared during the interval counts whole; one that vanished counts
// nothing.
Value interrupts_rate(const Sample* p, const Sample& c, double dt, const Env&) {
  const auto* before = static_cast<const IrqTable*>(p->payload.get());
  const auto* after = static_cast<const IrqTable*>(c.payload.get());
  if (before == nullptr || after == nullptr) return std::nullopt;
  const int64_t cpu = static_cast<int64_t>(c.u[kCpu]) - 1;
  // Columns of `after` to add, and the matching column of `before` (-1: none).
  std::vector<std::pair<size_t, long>> cols;
  if (cpu >= 0) {
    const long k = after->column(cpu);
    if (k >= 0) cols.emplace_back(static_cast<size_t>(k), before->column(cpu));
  } else {
    for (size_t k = 0; k < after->cpus.size(); ++k)
      cols.emplace_back(k, before->column(after->cpus[k]));
  }
  std::unordered_map<std::string_view, size_t> rows_before;
  uint64_t sum = 0;
  for (size_t r = 0; r < after->labels.size(); ++r) {
    // Rows usually stand where they stood; otherwise find them by label.
    long rb = -1;
    if (r < before->labels.size() && before->labels[r] == after->labels[r]) {
      rb = static_cast<long>(r);
    } else {
      if (rows_before.empty()) {
        for (size_t j = 0; j < before->labels.size(); ++j)
          rows_before.emplace(before->labels[j], j);
      }
      auto it = rows_before.find(after->labels[r]);
      if (it != rows_before.end()) rb = static_cast<long>(it->second);
    }
    for (const auto& [ka, kb] : cols) {
      const uint32_t now = after->cells[r][ka];
      if (rb < 0 || kb < 0) {
        sum += now;
        continue;
      }
      std::optional<uint64_t> d =
          delta32(before->cells[static_cast<size_t>(rb)][static_cast<size_t>(kb)], now);
      if (!d) return std::nullopt;
      sum += *d;
    }
  }
  return static_cast<double>(sum) / dt;
}

constexpr CounterDef kCounters[] = {
    {"Processor",
     "% Processor Time",
     CounterKind::percent,
     kStat,
     nullptr,
     "%",
     "Share of the interval the CPU was busy: everything but idle and iowait, steal included",
     "/proc/stat cpuN: 100*(T-idle-iowait)/T over tick deltas",
     {TYPE_100NSEC_TIMER_INV, idle_share, TimeBase::stamp, false,
      "first value idle+iowait ticks in 100 ns; second value all ticks (T) in 100 ns"}},
    {"Processor",
     "% User Time",
     CounterKind::percent,
     kStat,
     nullptr,
     "%",
     "Share of the interval spent in user mode, niced processes included",
     "/proc/stat cpuN: 100*(user+nice)/T over tick deltas",
     {TYPE_100NSEC_TIMER, user_share, TimeBase::stamp, false,
      "first value user+nice ticks in 100 ns; second value all ticks (T) in 100 ns"}},
    {"Processor",
     "% Privileged Time",
     CounterKind::percent,
     kStat,
     nullptr,
     "%",
     "Share of the interval spent in the kernel, interrupt and softirq time included",
     "/proc/stat cpuN: 100*(system+irq+softirq)/T over tick deltas",
     {TYPE_100NSEC_TIMER, privileged_share, TimeBase::stamp, false,
      "first value system+irq+softirq ticks in 100 ns; second value all ticks (T) in 100 ns"}},
    {"Processor",
     "% Interrupt Time",
     CounterKind::percent,
     kStat,
     nullptr,
     "%",
     "Share of the interval spent servicing hardware interrupts (0 without IRQ time accounting)",
     "/proc/stat cpuN: 100*irq/T over tick deltas",
     {TYPE_100NSEC_TIMER, interrupt_share, TimeBase::stamp, false,
      "first value irq ticks in 100 ns; second value all ticks (T) in 100 ns"}},
    {"Processor",
     "% DPC Time",
     CounterKind::percent,
     kStat,
     nullptr,
     "%",
     "Share of the interval spent in deferred interrupt work (softirq)",
     "/proc/stat cpuN: 100*softirq/T over tick deltas",
     {TYPE_100NSEC_TIMER, dpc_share, TimeBase::stamp, false,
      "first value softirq ticks in 100 ns; second value all ticks (T) in 100 ns"}},
    {"Processor",
     "% Idle Time",
     CounterKind::percent,
     kStat,
     nullptr,
     "%",
     "Share of the interval the CPU was idle, waiting for I/O included",
     "/proc/stat cpuN: 100*(idle+iowait)/T over tick deltas",
     {TYPE_100NSEC_TIMER, idle_share, TimeBase::stamp, false,
      "first value idle+iowait ticks in 100 ns; second value all ticks (T) in 100 ns"}},
    {"Processor",
     "Interrupts/sec",
     CounterKind::rate,
     kInterrupts,
     interrupts_rate,
     "",
     "Hardware interrupts handled per second",
     "/proc/interrupts: per-cell deltas of column CPUn (all columns for _Total) summed, / seconds",
     {0, nullptr, TimeBase::stamp, false,
      "no raw series: a sum of 32-bit cells whose lines and CPU columns come and go between "
      "samples, so no one count carries it"}},
};

}  // namespace

const ObjectDef& processor_object() {
  static const ObjectDef def{"Processor", true, kCounters, pass, false, 0, carry};
  return def;
}

}  // namespace perfdata::linux_backend
