#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// Memory: host-wide gauges from /proc/meminfo, paging activity from
// /proc/vmstat, the commit limit rule from /proc/sys/vm/overcommit_memory.
#include <cerrno>
#include <optional>
#include <string>

#include "perfdata/counter_types.h"
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
constexpr uint64_t kAbsent = kNoValue;  // as the shared raw fills read it

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

// The value text of the "key:" line, or nullopt when there is no such line.
std::optional<std::string_view> field_text(std::string_view text, std::string_view key) {
  for (std::string_view line : split_lines(text)) {
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
      std::vector<std::string_view> tok = split_ws(line.substr(key.size() + 1));
      return tok.empty() ? std::string_view() : tok[0];
    }
  }
  return std::nullopt;
}

// Why a meminfo line that is there holds no usable count: a value the
// kernel printed signed, or one past 64 bits, must not pass for a reading
// that is merely not there yet.
std::string bad_field(std::string_view text, std::string_view key) {
  std::optional<std::string_view> value = field_text(text, key);
  if (!value) return "";
  std::string why = "/proc/meminfo: " + std::string(key);
  if (!value->empty() && value->front() == '-') return why + " is negative";
  if (!value->empty() && value->find_first_not_of("0123456789") == std::string_view::npos)
    return why + " does not fit in 64 bits";
  return why + " is not a number";
}

void collect(const Env& env, uint32_t needs, Sample& out) {
  out.u.assign(kSlots, kAbsent);
  out.ok = true;
  std::string text;
  if (needs & kMeminfo) {
    if (!read_file(env, "proc/meminfo", text)) {
      out.missing |= kMeminfo;
      out.problem = read_problem("proc/meminfo", errno);
    }
    static constexpr std::pair<size_t, const char*> keys[] = {
        {kCommitted, "Committed_AS"},    {kCommitLimit, "CommitLimit"}, {kMemTotal, "MemTotal"},
        {kSwapTotal, "SwapTotal"},       {kBuffers, "Buffers"},         {kCached, "Cached"},
        {kSReclaimable, "SReclaimable"}, {kMemFree, "MemFree"},         {kDirty, "Dirty"},
        {kWriteback, "Writeback"},
    };
    for (const auto& [slot, key] : keys) {
      uint64_t v = 0;
      if (field_value(text, key, v)) {
        out.u[slot] = v;
      } else if (out.problem.empty()) {
        out.problem = bad_field(text, key);
      }
    }
    uint64_t avail = 0;
    if (field_value(text, "MemAvailable", avail)) {
      out.u[kAvail] = avail;
    } else if (field_text(text, "MemAvailable")) {
      if (out.problem.empty()) out.problem = bad_field(text, "MemAvailable");
    } else if (have(out, {kMemFree, kBuffers, kCached})) {
      // Kernels before 3.14 have no estimate; free + buffers + page cache is
      // the closest. A line that is there but unreadable stays unknown.
      out.u[kAvail] = out.u[kMemFree] + out.u[kBuffers] + out.u[kCached];
    }
  }
  if (needs & kVmstat) {
    if (!read_file(env, "proc/vmstat", text)) {
      out.missing |= kVmstat;
      if (out.problem.empty()) out.problem = read_problem("proc/vmstat", errno);
    }
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

// A count from one slot, scaled: false where the source lacked the field.
bool slot_count(const Sample& s, size_t slot, uint64_t scale, RawCounter& out) {
  if (!have(s, {slot})) return false;
  out.first_value = static_cast<int64_t>(s.u[slot] * scale);
  return true;
}

bool available_bytes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  return slot_count(s, kAvail, 1024, out);
}
bool available_kbytes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  return slot_count(s, kAvail, 1, out);
}
bool available_mbytes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  if (!have(s, {kAvail})) return false;
  out.first_value = static_cast<int64_t>(s.u[kAvail] / 1024);  // whole MiB, as the counter counts
  return true;
}
bool committed_bytes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  return slot_count(s, kCommitted, 1024, out);
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

bool commit_limit(const Sample& s, int64_t, const Env&, RawCounter& out) {
  std::optional<uint64_t> lim = commit_limit_kib(s);
  if (!lim) return false;
  out.first_value = static_cast<int64_t>(*lim * 1024);
  return true;
}
bool committed_in_use(const Sample& s, int64_t, const Env&, RawCounter& out) {
  std::optional<uint64_t> lim = commit_limit_kib(s);
  if (!lim || !have(s, {kCommitted})) return false;
  out.first_value = static_cast<int64_t>(s.u[kCommitted]);
  out.second_value = static_cast<int64_t>(*lim);
  return true;
}
bool cache_bytes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  if (!have(s, {kBuffers, kCached})) return false;
  uint64_t sr = s.u[kSReclaimable] == kAbsent ? 0 : s.u[kSReclaimable];
  out.first_value = static_cast<int64_t>((s.u[kBuffers] + s.u[kCached] + sr) * 1024);
  return true;
}
bool free_zero_bytes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  return slot_count(s, kMemFree, 1024, out);
}
bool modified_bytes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  if (!have(s, {kDirty, kWriteback})) return false;
  out.first_value = static_cast<int64_t>((s.u[kDirty] + s.u[kWriteback]) * 1024);
  return true;
}

// vmstat counts are unsigned long: 32 bits wide on a 32-bit kernel, where
// the type is the 32-bit one. pgpgin/pgpgout count KiB; the pages time base
// reads them as pages.
constexpr RawForm per_second(RawFill fill, TimeBase base, const char* form) {
  return {TYPE_COUNTER_BULK_COUNT, fill, base, true, form};
}

constexpr CounterDef kCounters[] = {
    {"Memory", "Available Bytes", CounterKind::gauge, kMeminfo, nullptr, "B",
     "Memory usable for new allocations without swapping (the kernel's estimate)",
     "/proc/meminfo MemAvailable*1024 (MemFree+Buffers+Cached before 3.14)",
     large_count(available_bytes, "first value the bytes")},
    {"Memory", "Available KBytes", CounterKind::gauge, kMeminfo, nullptr, "",
     "Available memory in KiB", "/proc/meminfo MemAvailable",
     large_count(available_kbytes, "first value the KiB")},
    {"Memory", "Available MBytes", CounterKind::gauge, kMeminfo, nullptr, "",
     "Available memory in whole MiB, rounded down", "/proc/meminfo floor(MemAvailable/1024)",
     large_count(available_mbytes, "first value the whole MiB")},
    {"Memory", "Committed Bytes", CounterKind::gauge, kMeminfo, nullptr, "B",
     "Memory promised to processes (commit charge)", "/proc/meminfo Committed_AS*1024",
     large_count(committed_bytes, "first value the bytes")},
    {"Memory", "Commit Limit", CounterKind::gauge, kMeminfo | kOvercommit, nullptr, "B",
     "Commit charge the system can honour: RAM plus swap, or the enforced limit under strict "
     "overcommit",
     "/proc/meminfo (MemTotal+SwapTotal)*1024; CommitLimit*1024 when "
     "/proc/sys/vm/overcommit_memory is 2",
     large_count(commit_limit, "first value the bytes")},
    {"Memory",
     "% Committed Bytes In Use",
     CounterKind::fraction,
     kMeminfo | kOvercommit,
     nullptr,
     "%",
     "Commit charge as a share of the commit limit (can pass 100 under heuristic overcommit)",
     "/proc/meminfo 100*Committed_AS/limit (limit as Commit Limit)",
     {TYPE_LARGE_RAW_FRACTION, committed_in_use, TimeBase::stamp, false,
      "first value Committed_AS KiB; second value the limit in KiB"}},
    {"Memory", "Cache Bytes", CounterKind::gauge, kMeminfo, nullptr, "B",
     "Page cache, buffers and reclaimable kernel slab",
     "/proc/meminfo (Buffers+Cached+SReclaimable)*1024",
     large_count(cache_bytes, "first value the bytes")},
    {"Memory", "Free & Zero Page List Bytes", CounterKind::gauge, kMeminfo, nullptr, "B",
     "Memory not in use at all", "/proc/meminfo MemFree*1024",
     large_count(free_zero_bytes, "first value the bytes")},
    {"Memory", "Modified Page List Bytes", CounterKind::gauge, kMeminfo, nullptr, "B",
     "Dirty pages waiting for or under writeback", "/proc/meminfo (Dirty+Writeback)*1024",
     large_count(modified_bytes, "first value the bytes")},
    {"Memory", "Page Faults/sec", CounterKind::rate, kVmstat, nullptr, "",
     "Page faults per second, soft and hard", "/proc/vmstat pgfault delta / seconds",
     per_second(slots_per_stamp<kPgfault>, TimeBase::stamp,
                "first value pgfault; second value the time stamp")},
    {"Memory", "Page Reads/sec", CounterKind::rate, kVmstat, nullptr, "",
     "Hard page faults (reads from disk) per second", "/proc/vmstat pgmajfault delta / seconds",
     per_second(slots_per_stamp<kPgmajfault>, TimeBase::stamp,
                "first value pgmajfault; second value the time stamp")},
    {"Memory", "Pages Input/sec", CounterKind::rate, kVmstat, nullptr, "",
     "Pages read from block devices per second",
     "/proc/vmstat pgpgin delta (KiB)*1024/page size / seconds",
     per_second(slots_per_stamp<kPgpgin>, TimeBase::pages,
                "first value pgpgin (KiB); second value the time stamp, time base "
                "10^7*1024/page size")},
    {"Memory", "Pages Output/sec", CounterKind::rate, kVmstat, nullptr, "",
     "Pages written to block devices per second",
     "/proc/vmstat pgpgout delta (KiB)*1024/page size / seconds",
     per_second(slots_per_stamp<kPgpgout>, TimeBase::pages,
                "first value pgpgout (KiB); second value the time stamp, time base "
                "10^7*1024/page size")},
    {"Memory", "Pages/sec", CounterKind::rate, kVmstat, nullptr, "",
     "Pages read plus pages written per second",
     "/proc/vmstat (pgpgin+pgpgout) deltas*1024/page size / seconds",
     per_second(slots_per_stamp<kPgpgin, kPgpgout>, TimeBase::pages,
                "first value pgpgin+pgpgout (KiB); second value the time stamp, time base "
                "10^7*1024/page size")},
};

}  // namespace

const ObjectDef& memory_object() {
  static const ObjectDef def{"Memory", false, kCounters, pass};
  return def;
}

}  // namespace perfdata::linux_backend
