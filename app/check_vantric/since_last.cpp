#include "app/check_vantric/since_last.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "perfdata/paths.h"
#include "perfdata/sample_state.h"
#include "platform/state_file.h"

namespace check_vantric {
namespace {

using perfdata::InstanceIdentity;
using perfdata::RawCounter;

constexpr double kTicksPerSecond = 1e7;

int64_t wall_clock() {
  using namespace std::chrono;
  return duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(
             system_clock::now().time_since_epoch())
      .count();
}

std::string seconds_text(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", s);
  return text;
}

// Today's records of one source, each with who it belongs to.
struct Today {
  bool raw = false;     // the counter has a raw series here
  std::string why_not;  // else why there is no window for it
  perfdata::CounterInfo info;
  std::vector<perfdata::StoredInstance> records;
  std::vector<std::string> names;  // the array's names of `records`, in its order
};

}  // namespace

struct SinceLast::Impl {
  const Request& r;
  std::string key, boot, boot_why;
  platform::StateFile file;
  perfdata::SampleState stored;
  bool usable = false;     // `stored` parsed, of this check
  std::string state_note;  // why the stored state is not used as a whole
  // Per source: the identity arrays of a process array (null otherwise).
  std::vector<std::pair<perfdata::Counter, perfdata::Counter>> identity;
  std::vector<Today> today;
  // A window too short: every record was stored at the same collection, so
  // the whole stored state stays as it was, its collection time included.
  bool too_soon = false;
  std::vector<std::string> unsettled;  // "<path>: <reason>"
  std::vector<std::string> left_out;   // "<path>: <n> instances left out: <reason> (names)"
  double shortest = 0.0, longest = 0.0;

  explicit Impl(const Request& request) : r(request) {}

  const perfdata::StoredCounter* stored_counter(const std::string& path) const {
    const std::string want = perfdata::folded(path);
    for (const perfdata::StoredCounter& c : stored.counters)
      if (c.path == want) return &c;
    return nullptr;
  }

  void read_today(const std::vector<SinceSource>& sources);
  bool pair_one(SinceSource& source, size_t at);
};

namespace {

// Process id and start time by instance name, from the identity arrays'
// raw records; empty when either has no raw series.
std::unordered_map<std::string, InstanceIdentity> process_identities(perfdata::Counter pid,
                                                                     perfdata::Counter start) {
  std::unordered_map<std::string, InstanceIdentity> out;
  std::vector<perfdata::RawArrayItem> pids, starts;
  if (pid == nullptr || start == nullptr || perfdata::get_raw_counter_array(pid, &pids) != 0 ||
      perfdata::get_raw_counter_array(start, &starts) != 0)
    return out;
  std::unordered_map<std::string, int64_t> started;
  for (const perfdata::RawArrayItem& s : starts)
    if (perfdata::is_usable(s.raw.c_status)) started.emplace(s.name, s.raw.first_value);
  for (const perfdata::RawArrayItem& p : pids) {
    const auto at = started.find(p.name);
    if (at == started.end() || !perfdata::is_usable(p.raw.c_status)) continue;
    out.emplace(p.name, InstanceIdentity{p.name, true, static_cast<uint64_t>(p.raw.first_value),
                                         static_cast<uint64_t>(at->second)});
  }
  return out;
}

}  // namespace

void SinceLast::Impl::read_today(const std::vector<SinceSource>& sources) {
  today.assign(sources.size(), {});
  for (size_t i = 0; i < sources.size(); ++i) {
    const SinceSource& s = sources[i];
    Today& t = today[i];
    if (perfdata::get_counter_info(s.counter, &t.info) != 0 || t.info.type == 0) {
      t.why_not = "no raw series on this system";
      continue;
    }
    if (!s.array) {
      RawCounter raw;
      if (perfdata::get_raw_counter_value(s.counter, &raw) != 0) {
        t.why_not = "no raw record";
        continue;
      }
      t.records.push_back({{}, raw});
      t.raw = true;
      continue;
    }
    std::vector<perfdata::RawArrayItem> items;
    if (perfdata::get_raw_counter_array(s.counter, &items) != 0) {
      t.why_not = "no raw records";
      continue;
    }
    const bool process = identity[i].first != nullptr;
    const auto who = process ? process_identities(identity[i].first, identity[i].second)
                             : std::unordered_map<std::string, InstanceIdentity>();
    if (process && who.empty()) {
      t.why_not = "no process ids and start times (ID Process, Elapsed Time) to match processes by";
      continue;
    }
    for (perfdata::RawArrayItem& item : items) {
      InstanceIdentity id{item.name};
      if (process) {
        const auto at = who.find(item.name);
        if (at == who.end()) continue;  // ended between the reads: no identity, no record
        id = at->second;
      }
      t.names.push_back(item.name);
      t.records.push_back({std::move(id), item.raw});
    }
    t.raw = true;
  }
}

bool SinceLast::Impl::pair_one(SinceSource& s, size_t at) {
  const Today& t = today[at];
  const auto unsettle = [&](const std::string& why) {
    unsettled.push_back(s.path + ": " + why);
    return false;
  };
  if (!t.raw) return unsettle(t.why_not);
  if (!usable) return unsettle(state_note);
  const perfdata::StoredCounter* sc = stored_counter(s.path);
  if (sc == nullptr) return unsettle("not in the stored state");
  const perfdata::SampleContext then{stored.boot, stored.collected, sc->type, sc->time_base};
  const perfdata::SampleContext now{boot, wall_clock(), t.info.type, t.info.time_base};
  const int64_t max_age = int64_t{r.max_age_s} * 10000000;
  const uint32_t format = perfdata::FMT_DOUBLE | (r.no_cap ? perfdata::FMT_NOCAP100 : 0);
  std::map<std::string, std::vector<std::string>> missed;  // reason -> instances
  for (size_t k = 0; k < t.records.size(); ++k) {
    const perfdata::StoredInstance& rec = t.records[k];
    const perfdata::StoredInstance* old = perfdata::find_instance(*sc, rec.identity);
    const perfdata::Judgement j =
        perfdata::judge_stored_sample(then, old ? &old->raw : nullptr, now, rec.raw, max_age);
    perfdata::CounterValue v;
    std::string why = j.reason;
    if (j.use == perfdata::Use::too_soon) too_soon = true;
    if (j.use == perfdata::Use::pair &&
        (perfdata::calculate_counter_from_raw(s.counter, format, &rec.raw, &old->raw, &v) != 0 ||
         !perfdata::is_usable(v.c_status)))
      why = "no value from the stored and today's records";
    if (!why.empty()) {
      missed[why].push_back(s.array ? t.names[k] : s.path);
      continue;
    }
    const double window =
        static_cast<double>(rec.raw.time_stamp - old->raw.time_stamp) / kTicksPerSecond;
    shortest = shortest == 0.0 ? window : std::min(shortest, window);
    longest = std::max(longest, window);
    if (s.array)
      s.values.emplace_back(t.names[k], v.value);
    else
      s.value = v.value;
  }
  if (!s.array && !missed.empty()) return unsettle(missed.begin()->first);
  if (s.array && s.values.empty())
    return unsettle(missed.empty() ? "no instance now" : missed.begin()->first);
  for (const auto& [why, names] : missed) {
    std::string line = s.path + ": " + std::to_string(names.size()) +
                       (names.size() == 1 ? " instance" : " instances") + " left out: " + why +
                       " (";
    for (size_t i = 0; i < names.size(); ++i) line += (i ? ", " : "") + names[i];
    left_out.push_back(line + ")");
  }
  s.settled = true;
  return true;
}

SinceLast::SinceLast(const Request& request) : impl_(std::make_unique<Impl>(request)) {}
SinceLast::~SinceLast() = default;

bool SinceLast::open(perfdata::Query query, const std::string& prefix,
                     const std::vector<SinceSource>& sources, std::string* problem) {
  Impl& m = *impl_;
  std::vector<std::string> parts{"paths"};
  for (const std::string& p : m.r.paths) parts.push_back(perfdata::folded(p));
  parts.push_back(m.r.no_cap ? "no-cap" : "capped");
  m.key = perfdata::state_key(parts);
  std::string text, why;
  // A second run of the same check waits for the first, but never past its own timeout.
  const int wait_ms = static_cast<int>(std::min<uint32_t>(2000, m.r.timeout_s * 250));
  if (!m.file.open(platform::state_directory(m.r.state_dir), "vantric-" + m.key + ".state", wait_ms,
                   &text, &why)) {
    *problem = "state: " + why;
    return false;
  }
  if (!platform::read_boot_identity(&m.boot, &m.boot_why)) m.boot.clear();
  if (text.empty()) {
    m.state_note = "no stored sample (first run)";
  } else if (!perfdata::parse_sample_state(text, &m.stored, &why)) {
    m.state_note = "damaged state file (" + why + ")";
  } else if (m.stored.key != m.key) {
    m.state_note = "the state file belongs to another check";
  } else if (m.boot.empty()) {
    m.state_note = "the boot cannot be told (" + m.boot_why + ")";
  } else {
    m.usable = true;
  }
  m.identity.assign(sources.size(), {nullptr, nullptr});
  for (size_t i = 0; i < sources.size(); ++i) {
    perfdata::ParsedPath parts_of;
    if (!sources[i].array || perfdata::parse_path(sources[i].path, parts_of, true) != 0 ||
        !perfdata::iequals(parts_of.object, "Process"))
      continue;
    const std::string base =
        prefix + "\\" + parts_of.object + "(" + parts_of.written_instance + ")\\";
    perfdata::Counter pid = nullptr, start = nullptr;
    if (perfdata::add_array_counter(query, (base + "ID Process").c_str(), &pid) == 0 &&
        perfdata::add_array_counter(query, (base + "Elapsed Time").c_str(), &start) == 0)
      m.identity[i] = {pid, start};
  }
  return true;
}

bool SinceLast::pair(std::vector<SinceSource>& sources) {
  Impl& m = *impl_;
  m.read_today(sources);
  bool all = true;
  for (size_t i = 0; i < sources.size(); ++i) all = m.pair_one(sources[i], i) && all;
  return all;
}

void SinceLast::store(const std::vector<SinceSource>& sources, bool again, plugin::Window* window) {
  Impl& m = *impl_;
  // Too soon: nothing is written, so today's second records are not read.
  if (again && !m.too_soon) m.read_today(sources);
  perfdata::SampleState next;
  next.key = m.key;
  next.boot = m.boot.empty() ? "unknown" : m.boot;
  next.collected = wall_clock();
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!m.today[i].raw) continue;
    perfdata::StoredCounter& c = next.counters.emplace_back();
    c.path = perfdata::folded(sources[i].path);
    c.type = m.today[i].info.type;
    c.time_base = m.today[i].info.time_base;
    c.instances = std::move(m.today[i].records);
  }
  std::string why;
  // A run that came too soon after another leaves that run's records in place.
  const bool stored = m.too_soon || m.file.replace(perfdata::write_sample_state(next), &why);
  const std::string path = m.file.path();
  m.file.close();
  std::vector<std::string>& lines = window->lines;
  window->since_s = m.shortest;
  if (m.shortest > 0.0)
    lines.push_back("window: " + seconds_text(m.shortest) +
                    (m.longest - m.shortest >= 0.05 ? " to " + seconds_text(m.longest) : "") +
                    " s since the last run");
  const std::string pause = "the pair over -s (" + std::to_string(m.r.interval_ms) + " ms)";
  for (const std::string& u : m.unsettled) lines.push_back("window: " + pause + " for " + u);
  for (const std::string& l : m.left_out) lines.push_back("left out: " + l);
  if (!stored)
    lines.push_back("state: not stored: " + why);
  else if (next.counters.empty())
    lines.push_back("state: no raw records to keep in " + path);
  else
    lines.push_back(std::string("state: ") +
                    (m.too_soon         ? "the last run's records kept "
                     : m.shortest > 0.0 ? "stored "
                                        : "new baseline stored ") +
                    "in " + path);
}

}  // namespace check_vantric
