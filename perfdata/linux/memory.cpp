#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// Memory: host-wide gauges from /proc/meminfo, paging activity from
// /proc/vmstat, the commit limit rule from /proc/sys/vm/overcommit_memory.
#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

enum : uint32_t { kMeminfo = 1, kVmstat = 2, kOvercommit = 4 };

// Sample layout; kAbsent marks a field the source did not have.
enum : size_t {
  kAvail,
  kCommitted,
  kCommitLimit,
  kMemTotal,
  kSwapTotal,
  kBuffers,
  kCached,
  kSReclaimable,
  kMemFree,
  kDirty,
  kWriteback,
  kMode,
  kPgfault,
  kPgmajfault,
  kPgpgin,
  kPgpgout,
  kSlots
};
constexpr uint64_t kAbsent = UINT64_MAX;

bool have(const Sample& s, std::initializer_list<size_t> idx) {
  for (size_t i : idx) {
    if (s.u[i] == kAbsent) return false;
  }
  return true;
}

// The value of "name value" lines (vmstat).
bool vm_value(std::string_view text, std::string_view name, uint64_t& out) {
  for (std::string_view line : split_lines(text)) {
    std::vector<std::string_view> tok = split_ws(line);
    if (tok.size() >= 2 && tok[0] == name) return parse_u64(tok[1], out);
  }
  return false;
}

// Whether a "key:" line is there at all, readable or not.
bool has_field(std::string_view text, std::string_view key) {
  for (std::string_view line : split_lines(text)) {
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':')
      return true;
  }
  return false;
}

void collect(const Env& env, uint32_t needs, Sample& out) {
  out.u.assign(kSlots, kAbsent);
  out.ok = true;
  std::string text;
  if (needs & kMeminfo) {
    if (!read_file(env, "proc/meminfo", text)) out.missing |= kMeminfo;
    static constexpr std::pair<size_t, const char*> keys[] = {
        {kCommitted, "Committed_AS"},    {kCommitLimit, "CommitLimit"}, {kMemTotal, "MemTotal"},
        {kSwapTotal, "SwapTotal"},       {kBuffers, "Buffers"},         {kCached, "Cached"},
        {kSReclaimable, "SReclaimable"}, {kMemFree, "MemFree"},         {kDirty, "Dirty"},
        {kWriteback, "Writeback"},
    };
    for (const auto& [slot, key] : keys) {
      uint64_t v = 0;
      if (field_value(text, key, v)) out.u[slot] = v;
    }
    uint64_t avail = 0;
    if (field_value(text, "MemAvailable", avail)) {
      out.u[kAvail] = avail;
    } else if (!has_field(text, "MemAvailable") && have(out, {kMemFree, kBuffers, kCached})) {
      // Kernels before 3.14 have no estimate; free + buffers + page cache is
      // the closest. A line that is there but unreadable stays unknown.
      out.u[kAvail] = out.u[kMemFree] + out.u[kBuffers] + out.u[kCached];
    }
  }
  if (needs & kVmstat) {
    if (!read_file(env, "proc/vmstat", text)) out.missing |= kVmstat;
    static constexpr std::pair<size_t, const char*> keys[] = {{kPgfault, "pgfault"},
                                                              {kPgmajfault, "pgmajfault"},
                                                              {kPgpgin, "pgpgin"},
                                                              {kPgpgout, "pgpgout"}};
    for (const auto& [slot, key] : keys) {
      uint64_t v = 0;
      if (vm_value(text, key, v)) out.u[slot] = v;
    }
  }
  if (needs & kOvercommit) {
    uint64_t mode = 0;
    std::vector<std::string_view> tok;
    if (read_file(env, "proc/sys/vm/overcommit_memory", text)) tok = split_ws(text);
    // Without the setting the kernel default (heuristic) applies.
    out.u[kMode] = (!tok.empty() && parse_u64(tok[0], mode)) ? mode : 0;
  }
}

void pass(const Env& env, const Request& req, Pass& out) {
  single_instance_pass(env, req, out, "proc/meminfo", collect);
}

Value kib_field(const Sample& s, size_t slot, double scale) {
  if (!have(s, {slot})) return std::nullopt;
  return static_cast<double>(s.u[slot]) * scale;
}

Value available_bytes(const Sample*, const Sample& c, double, const Env&) {
  return kib_field(c, kAvail, 1024.0);
}
Value available_kbytes(const Sample*, const Sample& c, double, const Env&) {
  return kib_field(c, kAvail, 1.0);
}
Value available_mbytes(const Sample*, const Sample& c, double, const Env&) {
  if (!have(c, {kAvail})) return std::nullopt;
  // NOLINTNEXTLINE(bugprone-integer-division): whole megabytes, as the counter counts
  return static_cast<double>(c.u[kAvail] / 1024);
}
Value committed_bytes(const Sample*, const Sample& c, double, const Env&) {
  return kib_field(c, kCommitted, 1024.0);
}

// Windows' limit is RAM plus page files; the kernel's CommitLimit only binds
// under strict overcommit (mode 2), and is far below RAM otherwise.
std::optional<uint64_t> commit_limit_kib(const Sample& c) {
  if (c.u[kMode] == 2) {
    if (!have(c, {kCommitLimit})) return std::nullopt;
    return c.u[kCommitLimit];
  }
  if (!have(c, {kMemTotal, kSwapTotal})) return std::nullopt;
  return c.u[kMemTotal] + c.u[kSwapTotal];
}

Value commit_limit(const Sample*, const Sample& c, double, const Env&) {
  std::optional<uint64_t> lim = commit_limit_kib(c);
  if (!lim) return std::nullopt;
  return static_cast<double>(*lim) * 1024.0;
}
Value committed_in_use(const Sample*, const Sample& c, double, const Env&) {
  std::optional<uint64_t> lim = commit_limit_kib(c);
  if (!lim || *lim == 0 || !have(c, {kCommitted})) return std::nullopt;
  return 100.0 * static_cast<double>(c.u[kCommitted]) / static_cast<double>(*lim);
}
Value cache_bytes(const Sample*, const Sample& c, double, const Env&) {
  if (!have(c, {kBuffers, kCached})) return std::nullopt;
  uint64_t sr = c.u[kSReclaimable] == kAbsent ? 0 : c.u[kSReclaimable];
  return static_cast<double>(c.u[kBuffers] + c.u[kCached] + sr) * 1024.0;
}
Value free_zero_bytes(const Sample*, const Sample& c, double, const Env&) {
  return kib_field(c, kMemFree, 1024.0);
}
Value modified_bytes(const Sample*, const Sample& c, double, const Env&) {
  if (!have(c, {kDirty, kWriteback})) return std::nullopt;
  return static_cast<double>(c.u[kDirty] + c.u[kWriteback]) * 1024.0;
}

// vmstat counters are unsigned long: they wrap only on a 32-bit kernel.
std::optional<uint64_t> field_delta(const Env& env, const Sample& p, const Sample& c, size_t slot) {
  if (!have(p, {slot}) || !have(c, {slot})) return std::nullopt;
  return delta_ulong(env, p.u[slot], c.u[slot]);
}

Value event_rate(const Sample* p, const Sample& c, double dt, const Env& env, size_t slot) {
  std::optional<uint64_t> d = field_delta(env, *p, c, slot);
  if (!d) return std::nullopt;
  return static_cast<double>(*d) / dt;
}

// pgpgin/pgpgout count KiB; the counters are in pages of the machine's size.
Value page_rate(const Sample* p, const Sample& c, double dt, const Env& env,
                std::initializer_list<size_t> slots) {
  if (env.page_size <= 0) return std::nullopt;
  double sum = 0;
  for (size_t slot : slots) {
    std::optional<uint64_t> d = field_delta(env, *p, c, slot);
    if (!d) return std::nullopt;
    sum += static_cast<double>(*d) * 1024.0 / static_cast<double>(env.page_size);
  }
  return sum / dt;
}

Value page_faults(const Sample* p, const Sample& c, double dt, const Env& e) {
  return event_rate(p, c, dt, e, kPgfault);
}
Value page_reads(const Sample* p, const Sample& c, double dt, const Env& e) {
  return event_rate(p, c, dt, e, kPgmajfault);
}
Value pages_input(const Sample* p, const Sample& c, double dt, const Env& e) {
  return page_rate(p, c, dt, e, {kPgpgin});
}
Value pages_output(const Sample* p, const Sample& c, double dt, const Env& e) {
  return page_rate(p, c, dt, e, {kPgpgout});
}
Value pages(const Sample* p, const Sample& c, double dt, const Env& e) {
  return page_rate(p, c, dt, e, {kPgpgin, kPgpgout});
}

constexpr CounterDef kCounters[] = {
    {"Memory", "Available Bytes", CounterKind::gauge, kMeminfo, available_bytes, "B",
     "Memory usable for new allocations without swapping (the kernel's estimate)",
     "/proc/meminfo MemAvailable*1024 (MemFree+Buffers+Cached before 3.14)"},
    {"Memory", "Available KBytes", CounterKind::gauge, kMeminfo, available_kbytes, "",
     "Available memory in KiB", "/proc/meminfo MemAvailable"},
    {"Memory", "Available MBytes", CounterKind::gauge, kMeminfo, available_mbytes, "",
     "Available memory in whole MiB, rounded down", "/proc/meminfo floor(MemAvailable/1024)"},
    {"Memory", "Committed Bytes", CounterKind::gauge, kMeminfo, committed_bytes, "B",
     "Memory promised to processes (commit charge)", "/proc/meminfo Committed_AS*1024"},
    {"Memory", "Commit Limit", CounterKind::gauge, kMeminfo | kOvercommit, commit_limit, "B",
     "Commit charge the system can honour: RAM plus swap, or the enforced limit under strict "
     "overcommit",
     "/proc/meminfo (MemTotal+SwapTotal)*1024; CommitLimit*1024 when "
     "/proc/sys/vm/overcommit_memory is 2"},
    {"Memory", "% Committed Bytes In Use", CounterKind::fraction, kMeminfo | kOvercommit,
     committed_in_use, "%",
     "Commit charge as a share of the commit limit (can pass 100 under heuristic overcommit)",
     "/proc/meminfo 100*Committed_AS/limit (limit as Commit Limit)"},
    {"Memory", "Cache Bytes", CounterKind::gauge, kMeminfo, cache_bytes, "B",
     "Page cache, buffers and reclaimable kernel slab",
     "/proc/meminfo (Buffers+Cached+SReclaimable)*1024"},
    {"Memory", "Free & Zero Page List Bytes", CounterKind::gauge, kMeminfo, free_zero_bytes, "B",
     "Memory not in use at all", "/proc/meminfo MemFree*1024"},
    {"Memory", "Modified Page List Bytes", CounterKind::gauge, kMeminfo, modified_bytes, "B",
     "Dirty pages waiting for or under writeback", "/proc/meminfo (Dirty+Writeback)*1024"},
    {"Memory", "Page Faults/sec", CounterKind::rate, kVmstat, page_faults, "",
     "Page faults per second, soft and hard", "/proc/vmstat pgfault delta / seconds"},
    {"Memory", "Page Reads/sec", CounterKind::rate, kVmstat, page_reads, "",
     "Hard page faults (reads from disk) per second", "/proc/vmstat pgmajfault delta / seconds"},
    {"Memory", "Pages Input/sec", CounterKind::rate, kVmstat, pages_input, "",
     "Pages read from block devices per second",
     "/proc/vmstat pgpgin delta (KiB)*1024/page size / seconds"},
    {"Memory", "Pages Output/sec", CounterKind::rate, kVmstat, pages_output, "",
     "Pages written to block devices per second",
     "/proc/vmstat pgpgout delta (KiB)*1024/page size / seconds"},
    {"Memory", "Pages/sec", CounterKind::rate, kVmstat, pages, "",
     "Pages read plus pages written per second",
     "/proc/vmstat (pgpgin+pgpgout) deltas*1024/page size / seconds"},
};

}  // namespace

const ObjectDef& memory_object() {
  static const ObjectDef def{"Memory", false, kCounters, pass};
  return def;
}

}  // namespace perfdata::linux_backend
