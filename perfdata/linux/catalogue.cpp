#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/catalogue.h"

#include <cerrno>
#include <string>
#include <unordered_map>
#include <utility>

#include "perfdata/counter_types.h"
#include "perfdata/paths.h"

namespace perfdata::linux_backend {

CounterInfo counter_info(const CounterDef& row, const Env& env) {
  CounterInfo info;
  info.name = row.name;
  info.kind = row.kind;
  info.unit = row.unit != nullptr ? row.unit : "";
  info.explanation = row.explanation != nullptr ? row.explanation : "";
  info.source = row.source != nullptr ? row.source : "";
  info.type = raw_type(row, env);
  info.time_base = info.type == 0 ? 0 : raw_time_base(row, env);
  return info;
}

uint32_t raw_type(const CounterDef& row, const Env& env) {
  if (!row.raw.ulong || env.ulong_bits != 32) return row.raw.type;
  switch (row.raw.type) {
    case TYPE_COUNTER_BULK_COUNT:
      return TYPE_COUNTER_COUNTER;
    case TYPE_COUNTER_LARGE_QUEUELEN_TYPE:
      return TYPE_COUNTER_QUEUELEN_TYPE;
    default:
      return row.raw.type;
  }
}

int64_t raw_time_base(const CounterDef& row, const Env& env) {
  switch (row.raw.base) {
    case TimeBase::ms:
      return 1000;
    case TimeBase::ticks:
      return env.clk_tck;
    case TimeBase::pages:
      // A rate of KiB counts over the stamp, read as pages of this size.
      return env.page_size > 0 ? 10000000LL * 1024 / env.page_size : 0;
    case TimeBase::stamp:
      break;
  }
  return 10000000;
}

namespace {

// The types whose first value is a 32-bit field.
bool narrow_first(uint32_t type) {
  switch (type) {
    case TYPE_COUNTER_COUNTER:
    case TYPE_COUNTER_QUEUELEN_TYPE:
    case TYPE_AVERAGE_TIMER:
    case TYPE_SAMPLE_FRACTION:
      return true;
    default:
      return false;
  }
}

}  // namespace

RawCounter raw_record(const CounterDef& row, const Sample& s, int64_t stamp, const Env& env) {
  RawCounter r;
  r.time_stamp = stamp;
  if (!s.ok || (s.missing & row.needs) != 0 || row.raw.fill == nullptr ||
      !row.raw.fill(s, stamp, env, r)) {
    return RawCounter{CSTATUS_INVALID_DATA, stamp, 0, 0, 1};
  }
  const uint32_t type = raw_type(row, env);
  if (narrow_first(type)) r.first_value &= 0xFFFFFFFF;
  if (type == TYPE_AVERAGE_TIMER || type == TYPE_AVERAGE_BULK || type == TYPE_SAMPLE_FRACTION)
    r.second_value &= 0xFFFFFFFF;
  r.c_status = CSTATUS_VALID_DATA;
  return r;
}

bool slot_sum(const Sample& s, std::initializer_list<size_t> slots, RawCounter& out) {
  uint64_t sum = 0;
  for (size_t slot : slots) {
    if (slot >= s.u.size() || s.u[slot] == kNoValue) return false;
    sum += s.u[slot];
  }
  out.first_value = static_cast<int64_t>(sum);
  return true;
}

int64_t ticks_100ns(uint64_t ticks, const Env& env) {
  if (env.clk_tck <= 0) return 0;
  const auto hz = static_cast<unsigned __int128>(env.clk_tck);
  return static_cast<int64_t>(static_cast<unsigned __int128>(ticks) * 10000000u / hz);
}

std::span<const ObjectDef* const> all_objects() {
  static const ObjectDef* const objects[] = {
      &processor_object(),
      &memory_object(),
      &paging_file_object(),
      &system_object(),
      &logical_disk_object(),
      &physical_disk_object(),
      &network_interface_object(),
      &process_object(),
      &tcpv4_object(),
  };
  return objects;
}

const ObjectDef* find_object(std::string_view name) {
  for (const ObjectDef* obj : all_objects()) {
    if (iequals(obj->name, name)) return obj;
  }
  return nullptr;
}

const CounterDef* find_counter(const ObjectDef& obj, std::string_view name) {
  for (const CounterDef& row : obj.counters) {
    if (iequals(row.name, name)) return &row;
  }
  return nullptr;
}

namespace {
thread_local bool reset_seen = false;
}  // namespace

bool take_reset() { return std::exchange(reset_seen, false); }

std::optional<uint64_t> delta(uint64_t prev, uint64_t cur) {
  if (cur >= prev) return cur - prev;
  reset_seen = true;
  return std::nullopt;
}

std::optional<uint64_t> delta_ulong(const Env& env, uint64_t prev, uint64_t cur) {
  return env.ulong_bits == 32 ? delta32(prev, cur) : delta(prev, cur);
}

std::optional<uint64_t> delta32(uint64_t prev, uint64_t cur) {
  if (cur >= prev) return cur - prev;
  if (prev <= 0xFFFFFFFFull) {
    uint64_t d = cur + 0x100000000ull - prev;
    if (d < 0x80000000ull) return d;
  }
  reset_seen = true;
  return std::nullopt;
}

std::string mangle(std::string_view raw, bool keep_slash) {
  if (raw.empty()) return "_";
  std::string r(raw);
  for (char& c : r) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '(') {
      c = '[';
    } else if (c == ')') {
      c = ']';
    } else if (c == '#' || c == '\\' || c == '*' || c == '|' || b < 0x20 || b == 0x7F ||
               (c == '/' && !keep_slash)) {
      // '#' would read as a duplicate index and '*' as a wildcard; '|' and
      // control bytes would split an output line or start performance data.
      c = '_';
    }
  }
  return r;
}

std::vector<std::string> numbered_names(const std::vector<Instance>& list) {
  std::unordered_map<std::string, size_t> seen;
  std::vector<std::string> names;
  names.reserve(list.size());
  for (const Instance& inst : list) {
    size_t k = seen[folded(inst.name)]++;
    names.push_back(k == 0 ? inst.name : inst.name + "#" + std::to_string(k));
  }
  return names;
}

InstanceIndex::InstanceIndex(const ObjectDef& obj, const std::vector<Instance>& list) : obj_(obj) {
  for (size_t i = 0; i < list.size(); ++i) {
    exact_.emplace(list[i].name, i);
    groups_[folded(list[i].name)].push_back(i);
  }
}

std::optional<size_t> InstanceIndex::find(std::string_view name, uint32_t index) const {
  if (obj_.strip_trailing_slash && name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  // A name given exactly, without an index, is that instance: mount points
  // and interface names differ by case alone on Linux.
  if (index == 0) {
    auto it = exact_.find(name);
    if (it != exact_.end()) return it->second;
  }
  // Otherwise duplicates form one group ignoring case; '#k' picks the k-th
  // member in listing order, which is the order the display names carry.
  auto group = groups_.find(folded(name));
  const size_t cut = obj_.truncated_name_len;
  if (group == groups_.end() && cut > 0 && name.size() > cut)
    group = groups_.find(folded(name.substr(0, cut)));
  if (group == groups_.end() || index >= group->second.size()) return std::nullopt;
  return group->second[index];
}

namespace {

// Pattern positions reachable from the set `at` after one more byte `c`
// (any byte when `any`); a '*' position may also be skipped.
void close_stars(std::string_view p, std::vector<char>& at) {
  for (size_t i = 0; i < p.size(); ++i)
    if (at[i] && p[i] == '*') at[i + 1] = 1;
}
void step(std::string_view p, std::vector<char>& at, char c, bool any) {
  std::vector<char> next(p.size() + 1, 0);
  for (size_t i = 0; i < p.size(); ++i) {
    if (!at[i]) continue;
    if (p[i] == '*') {
      next[i] = 1;
    } else if (any || fold(p[i]) == fold(c)) {
      next[i + 1] = 1;
    }
  }
  close_stars(p, next);
  at.swap(next);
}

}  // namespace

bool instance_matches(const ObjectDef& obj, std::string_view pattern, std::string_view name,
                      std::string_view suffix) {
  std::string display(name);
  display.append(suffix);
  if (wildcard_match(pattern, display)) return true;
  if (obj.truncated_name_len == 0 || name.size() != obj.truncated_name_len) return false;
  // The pattern against name + X + suffix for some non-empty X: run the
  // pattern as a set of positions over the name, then over one or more
  // arbitrary bytes (which reach every position from the first one onward),
  // then over the suffix.
  std::vector<char> at(pattern.size() + 1, 0);
  at[0] = 1;
  close_stars(pattern, at);
  for (char c : name) step(pattern, at, c, false);
  step(pattern, at, 0, true);
  size_t first = 0;
  while (first <= pattern.size() && !at[first]) ++first;
  if (first > pattern.size()) return false;
  for (size_t i = first; i <= pattern.size(); ++i) at[i] = 1;
  for (char c : suffix) step(pattern, at, c, false);
  return at[pattern.size()] != 0;
}

Sample& add_instance(Pass& out, Instance inst) {
  out.instances.push_back(std::move(inst));
  return out.samples.emplace_back();
}

void single_instance_pass(const Env& env, const Request& req, Pass& out, std::string_view primary,
                          void (*collect)(const Env& env, uint32_t needs, Sample& out)) {
  const uint32_t needs = req.all_needs();
  if (needs == 0) {
    std::string text;
    out.ok = read_file(env, primary, text);
    if (!out.ok) out.problem = read_problem(primary, errno);
    if (out.ok && req.wants("")) add_instance(out, Instance{"", "", 0, 0});
    return;
  }
  out.ok = true;
  collect(env, needs, add_instance(out, Instance{"", "", 0, 0}));
}

double cap_percent(double v) {
  if (v < 0.0) return 0.0;
  if (v > 100.0) return 100.0;
  return v;
}

}  // namespace perfdata::linux_backend
