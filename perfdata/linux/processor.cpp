#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// Processor: per-CPU and total tick counts from /proc/stat, interrupt counts
// from /proc/interrupts.
#include <memory>

#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

enum : uint32_t { kStat = 1, kInterrupts = 2 };
// Sample layout: u[0..7] user nice system idle iowait irq softirq steal,
// payload the interrupt cells.
enum : size_t { U, N, S, I, W, Q, SQ, ST, kFields };

// The CPU number of a "cpu"/"cpuN" label: -1 for the total line, -2 for
// anything else.
int64_t cpu_label(std::string_view label) {
  if (label.substr(0, 3) != "cpu") return -2;
  std::string_view num = label.substr(3);
  if (num.empty()) return -1;
  uint64_t n = 0;
  if (!parse_u64(num, n) || n > 1000000) return -2;
  return static_cast<int64_t>(n);
}

// Reads the tick fields of the line for `cpu` (-1: total). Fields missing at
// the end count as 0; guest and guest_nice are already inside user and nice.
bool read_ticks(std::string_view stat, int64_t cpu, Sample& out) {
  for (std::string_view line : split_lines(stat)) {
    std::vector<std::string_view> tok = split_ws(line);
    if (tok.empty() || cpu_label(tok[0]) != cpu) continue;
    if (tok.size() < 5) return false;
    out.u.assign(kFields, 0);
    for (size_t k = 0; k < kFields && k + 1 < tok.size(); ++k) {
      if (!parse_u64(tok[k + 1], out.u[k])) return false;
    }
    return true;
  }
  return false;
}

// One /proc/interrupts cell: the interrupt line's label and the CPU column.
struct Cell {
  std::string key;  // "<label> CPU<n>"
  uint64_t count;
};
using Cells = std::vector<Cell>;

// The cells of CPU `cpu` (every CPU for -1) over the per-CPU rows. Columns
// are found by their "CPUn" header because offline CPUs drop out.
bool read_interrupts(std::string_view text, int64_t cpu, Cells& cells) {
  std::vector<std::string_view> lines = split_lines(text);
  if (lines.empty()) return false;
  std::vector<std::string_view> head = split_ws(lines[0]);
  if (head.empty()) return false;
  long col = -1;
  if (cpu >= 0) {
    std::string want = "CPU" + std::to_string(cpu);
    for (size_t i = 0; i < head.size(); ++i) {
      if (head[i] == want) col = static_cast<long>(i);
    }
    if (col < 0) return false;
  }
  const size_t ncols = head.size();
  for (size_t li = 1; li < lines.size(); ++li) {
    std::vector<std::string_view> tok = split_ws(lines[li]);
    if (tok.size() < 2 || tok[0].back() != ':') continue;
    // Error totals, not interrupts: x86 writes "ERR:" and "MIS:", arm64
    // "Err:"; with one CPU they look like any other row.
    if (tok[0] == "ERR:" || tok[0] == "MIS:" || tok[0] == "Err:") continue;
    size_t n = 0;
    uint64_t v = 0;
    while (n < ncols && n + 1 < tok.size() && parse_u64(tok[n + 1], v)) ++n;
    if (n < ncols) continue;  // a single-value row such as ERR or MIS
    for (size_t c = 0; c < ncols; ++c) {
      if (cpu >= 0 && static_cast<long>(c) != col) continue;
      parse_u64(tok[c + 1], v);
      cells.push_back(Cell{std::string(tok[0]) + " " + std::string(head[c]), v});
    }
  }
  return true;
}

bool enumerate(const Env& env, std::vector<Instance>& out) {
  std::string stat;
  if (!read_file(env, "proc/stat", stat)) return false;
  for (std::string_view line : split_lines(stat)) {
    std::vector<std::string_view> tok = split_ws(line);
    if (tok.empty()) continue;
    int64_t cpu = cpu_label(tok[0]);
    if (cpu == -1) {
      out.insert(out.begin(), Instance{"_Total", "cpu", -1, 0});
    } else if (cpu >= 0) {
      out.push_back(Instance{std::string(tok[0].substr(3)), std::string(tok[0]), cpu, 0});
    }
  }
  return true;
}

void collect(const Env& env, const Instance& inst, uint32_t needs, const Sample*, Sample& out) {
  out.u.assign(kFields, 0);
  std::string text;
  if (needs & kStat) {
    if (!read_file(env, "proc/stat", text) || !read_ticks(text, inst.id, out)) return;
  }
  if (needs & kInterrupts) {
    auto cells = std::make_shared<Cells>();
    if (!read_file(env, "proc/interrupts", text) || !read_interrupts(text, inst.id, *cells)) return;
    out.payload = std::move(cells);
  }
  out.ok = true;
}

// Per-field tick deltas, clamped at 0 (iowait may go backwards).
struct Ticks {
  uint64_t d[kFields];
  uint64_t total;
};

Ticks ticks(const Sample& prev, const Sample& cur) {
  Ticks t{};
  for (size_t k = 0; k < kFields; ++k) {
    t.d[k] = cur.u[k] >= prev.u[k] ? cur.u[k] - prev.u[k] : 0;
    t.total += t.d[k];
  }
  return t;
}

Value percent_of(const Sample* prev, const Sample& cur, std::initializer_list<size_t> fields) {
  Ticks t = ticks(*prev, cur);
  if (t.total == 0) return std::nullopt;
  uint64_t part = 0;
  for (size_t f : fields) part += t.d[f];
  return 100.0 * static_cast<double>(part) / static_cast<double>(t.total);
}

Value processor_time(const Sample* prev, const Sample& cur, double, const Env&) {
  Ticks t = ticks(*prev, cur);
  if (t.total == 0) return std::nullopt;
  return 100.0 * static_cast<double>(t.total - t.d[I] - t.d[W]) / static_cast<double>(t.total);
}
Value user_time(const Sample* p, const Sample& c, double, const Env&) {
  return percent_of(p, c, {U, N});
}
Value privileged_time(const Sample* p, const Sample& c, double, const Env&) {
  return percent_of(p, c, {S, Q, SQ});
}
Value interrupt_time(const Sample* p, const Sample& c, double, const Env&) {
  return percent_of(p, c, {Q});
}
Value dpc_time(const Sample* p, const Sample& c, double, const Env&) {
  return percent_of(p, c, {SQ});
}
Value idle_time(const Sample* p, const Sample& c, double, const Env&) {
  return percent_of(p, c, {I, W});
}
// Each cell is a 32-bit count: its wrap is undone before the cells are
// added, since a sum of wrapping cells does not wrap at 2^32. A line that
// appeared during the interval counts whole; one that vanished counts nothing.
Value interrupts_rate(const Sample* p, const Sample& c, double dt, const Env&) {
  const auto* before = static_cast<const Cells*>(p->payload.get());
  const auto* after = static_cast<const Cells*>(c.payload.get());
  if (before == nullptr || after == nullptr) return std::nullopt;
  uint64_t sum = 0;
  size_t j = 0;
  for (const Cell& cell : *after) {
    // Both lists are in file order, so a matching cell is usually next.
    if (j >= before->size() || (*before)[j].key != cell.key) {
      j = 0;
      while (j < before->size() && (*before)[j].key != cell.key) ++j;
    }
    if (j >= before->size()) {
      sum += cell.count;
      j = 0;
      continue;
    }
    std::optional<uint64_t> d = delta32((*before)[j].count, cell.count);
    if (!d) return std::nullopt;
    sum += *d;
    ++j;
  }
  return static_cast<double>(sum) / dt;
}

constexpr CounterDef kCounters[] = {
    {"Processor", "% Processor Time", CounterKind::percent, kStat, processor_time, "%",
     "Share of the interval the CPU was busy: everything but idle and iowait, steal included",
     "/proc/stat cpuN: 100*(T-idle-iowait)/T over tick deltas"},
    {"Processor", "% User Time", CounterKind::percent, kStat, user_time, "%",
     "Share of the interval spent in user mode, niced processes included",
     "/proc/stat cpuN: 100*(user+nice)/T over tick deltas"},
    {"Processor", "% Privileged Time", CounterKind::percent, kStat, privileged_time, "%",
     "Share of the interval spent in the kernel, interrupt and softirq time included",
     "/proc/stat cpuN: 100*(system+irq+softirq)/T over tick deltas"},
    {"Processor", "% Interrupt Time", CounterKind::percent, kStat, interrupt_time, "%",
     "Share of the interval spent servicing hardware interrupts (0 without IRQ time accounting)",
     "/proc/stat cpuN: 100*irq/T over tick deltas"},
    {"Processor", "% DPC Time", CounterKind::percent, kStat, dpc_time, "%",
     "Share of the interval spent in deferred interrupt work (softirq)",
     "/proc/stat cpuN: 100*softirq/T over tick deltas"},
    {"Processor", "% Idle Time", CounterKind::percent, kStat, idle_time, "%",
     "Share of the interval the CPU was idle, waiting for I/O included",
     "/proc/stat cpuN: 100*(idle+iowait)/T over tick deltas"},
    {"Processor", "Interrupts/sec", CounterKind::rate, kInterrupts, interrupts_rate, "",
     "Hardware interrupts handled per second",
     "/proc/interrupts: per-cell deltas of column CPUn (all columns for _Total) summed, / seconds"},
};

}  // namespace

const ObjectDef& processor_object() {
  static const ObjectDef def{"Processor", true, kCounters, enumerate, collect};
  return def;
}

}  // namespace perfdata::linux_backend
