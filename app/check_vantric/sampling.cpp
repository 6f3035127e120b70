#include "app/check_vantric/sampling.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/check_vantric/since_last.h"
#include "app/check_vantric/totals.h"
#include "perfdata/counter_types.h"
#include "perfdata/paths.h"
#include "perfdata/perfdata.h"

namespace check_vantric {
namespace {

using plugin::State;

// One path being checked: a counter, or a wildcard instance read as one
// array counter whose instances become items of their own as reads find them.
struct Item {
  explicit Item(std::string path, size_t from)
      : result(plugin::counter_result(std::move(path), from)) {}
  plugin::CounterResult result;  // a non-empty problem: no value; `source` its -p path
  bool matched = false;          // found by expansion: may vanish before it is read
  perfdata::Counter counter = nullptr;
  perfdata::CounterKind kind = perfdata::CounterKind::unknown;
  bool vanished = false;     // matched, then gone at the add (a process that ended)
  bool read_failed = false;  // matched, then no valid reading
  // The raw form: the counter type, and the ticks per second of its records' clock.
  uint32_t raw_type = 0;
  int64_t time_base = 0;
  bool by_raw = false;  // read once from its raw record: running totals, or a one-record value
  perfdata::Counter process_ids = nullptr;  // "ID Process" of the same instances
  bool settled = false;                     // its value is since the last run: no rounds read it
  double sum = 0.0;
  uint32_t readings = 0;

  bool array = false;
  std::vector<Item> instances;                   // in the order reads first gave them
  std::unordered_map<std::string, size_t> seen;  // instance name -> index in `instances`

  bool live() const { return result.problem.empty(); }
  void set_problem(std::string why, State state = State::unknown) {
    result.problem = std::move(why);
    result.state = state;
  }
};

bool has_star(const std::string& s) { return s.find('*') != std::string::npos; }

// OpenMetrics: what accumulates is exposed as running totals from one
// collection, unless --interval-gauges asks for the values over -s.
bool wants_totals(const Request& r) {
  return r.format == Format::openmetrics && !r.interval_gauges;
}

// A Prometheus server sums the instances itself, so a wildcard leaves out
// the total that the system adds to them.
bool left_out(const Request& r, const std::string& instance) {
  return r.format == Format::openmetrics && perfdata::iequals(instance, "_Total");
}

// Processes carry their id in OpenMetrics, so that a process that ends and
// one that starts under its name are two series: the "ID Process" counter of
// the same instances, read at the same collection. No id: no label.
perfdata::Counter add_process_ids(const Request& r, perfdata::Query query,
                                  const std::string& prefix, const plugin::CounterResult& c,
                                  bool array) {
  if (r.format != Format::openmetrics || !perfdata::iequals(c.object, "Process")) return nullptr;
  const std::string path = prefix + perfdata::join_path(c.object, &c.instance, "ID Process");
  perfdata::Counter counter = nullptr;
  const perfdata::Status st = array ? perfdata::add_array_counter(query, path.c_str(), &counter)
                                    : perfdata::add_english_counter(query, path.c_str(), &counter);
  return st == 0 ? counter : nullptr;
}

std::string id_text(const perfdata::CounterValue& v) {
  if (!perfdata::is_usable(v.c_status) || !(v.value >= 0) || v.value > 4294967295.0) return {};
  return std::to_string(static_cast<uint64_t>(v.value));
}

// The words for a failed add: what the backend knows beyond the status (a
// source that could not be read and why); on Windows a missing object may
// have a cause worth naming (a damaged counter registry, processes served
// under another name).
std::string add_problem(perfdata::Status status, const std::string& object,
                        perfdata::Query query = nullptr) {
  if (std::string detail = perfdata::failure_detail(query, nullptr); !detail.empty()) return detail;
  std::string why = perfdata::status_words(status);
  if (status != perfdata::CSTATUS_NO_OBJECT) return why;
  const std::string cause = perfdata::describe_missing_object(object.c_str());
  return cause.empty() ? why : why + "; " + cause;
}

// False, with the problem set, for a counter that one sample cannot give.
bool describe(const Request& r, Item& item) {
  perfdata::CounterInfo info;
  if (perfdata::get_counter_info(item.counter, &info) != 0) info = {};
  if (info.unit.empty() && info.kind == perfdata::CounterKind::percent) info.unit = "%";
  item.kind = info.kind;
  item.raw_type = info.type;
  item.time_base = info.time_base;
  item.result.kind = perfdata::kind_word(info.kind);
  item.result.unit = info.unit;
  item.result.explanation = info.explanation;
  item.result.described = !info.name.empty();
  item.result.uncapped = r.no_cap && info.unit == "%";
  item.by_raw = wants_totals(r) && one_collection(info.type);
  if (item.by_raw || r.interval_ms != 0 || !perfdata::needs_two_samples(info.kind)) return true;
  item.set_problem("is a " + item.result.kind +
                   " counter: it needs two samples (-s greater than 0)");
  return false;
}

// The route for systems without counter arrays: every instance that matches
// now becomes a counter of its own. A system without expansion either can
// check no wildcard at all: that is the whole check's problem.
void expand(const Request& r, const std::string& path, size_t request, std::vector<Item>& items,
            std::string& problem) {
  std::vector<std::string> found;
  const perfdata::Status st = perfdata::expand_wildcard_path(path.c_str(), &found);
  if (st == perfdata::NOT_IMPLEMENTED)
    problem = "this system does not provide " +
              perfdata::missing_call(perfdata::Discovery::wildcard_expansion);
  else if (st != 0)
    items.emplace_back(path, request).set_problem(perfdata::status_words(st));
  for (std::string& f : found) {
    Item item(std::move(f), request);
    item.matched = true;
    if (!left_out(r, item.result.instance)) items.push_back(std::move(item));
  }
}

// The paths that a '*' in the counter part stands for, from the object's
// counter list (which does not change while a check runs); false where the
// system cannot list counters.
bool resolve_counters(const std::string& path, size_t request, std::vector<Item>& items,
                      std::vector<std::string>* paths) {
  perfdata::ParsedPath parts;
  perfdata::parse_path(path, parts, true);
  if (!has_star(parts.counter)) {
    paths->push_back(path);
    return true;
  }
  std::vector<perfdata::CounterInfo> counters;
  std::vector<std::string> instances;
  const perfdata::Status st =
      perfdata::enum_object_items(parts.object.c_str(), &counters, &instances);
  if (st == perfdata::NOT_IMPLEMENTED) return false;
  if (st != 0) items.emplace_back(path, request).set_problem(add_problem(st, parts.object));
  const std::string pattern = parts.counter;
  for (const perfdata::CounterInfo& c : counters) {
    if (!perfdata::wildcard_match(pattern, c.name)) continue;
    parts.counter = c.name;
    paths->push_back(perfdata::join_path(parts));
  }
  return true;
}

// Turns the request's paths into items; a '*' in an instance is added here
// as one array counter. Sets `problem` when the system can check no wildcard.
void resolve(const Request& r, perfdata::Query query, const std::string& prefix,
             std::vector<Item>& items, std::string& problem) {
  for (size_t request = 0; request < r.paths.size() && problem.empty(); ++request) {
    const std::string& path = r.paths[request];
    std::vector<std::string> paths;
    if (!has_star(path)) {
      items.emplace_back(path, request);
      continue;
    }
    if (!resolve_counters(path, request, items, &paths)) {
      expand(r, path, request, items, problem);
      continue;
    }
    for (std::string& p : paths) {
      Item item(std::move(p), request);
      if (!has_star(item.result.instance)) {
        items.push_back(std::move(item));
        continue;
      }
      const perfdata::Status st =
          perfdata::add_array_counter(query, (prefix + item.result.path).c_str(), &item.counter);
      if (st == perfdata::NOT_IMPLEMENTED) {
        expand(r, path, request, items, problem);
        break;
      }
      item.array = true;
      if (st != 0)
        item.set_problem(add_problem(st, item.result.object, query));
      else if (describe(r, item))
        item.process_ids = add_process_ids(r, query, prefix, item.result, true);
      items.push_back(std::move(item));
    }
  }
}

// Adds every counter that has no problem yet; returns how many items can be read.
size_t add_counters(const Request& r, perfdata::Query query, const std::string& prefix,
                    std::vector<Item>& items) {
  size_t live = 0;
  for (Item& item : items) {
    if (!item.live()) continue;
    if (item.array) {
      ++live;
      continue;
    }
    const perfdata::Status st =
        perfdata::add_english_counter(query, (prefix + item.result.path).c_str(), &item.counter);
    if (st != 0) {
      item.set_problem(add_problem(st, item.result.object, query),
                       st == perfdata::CSTATUS_NO_INSTANCE ? r.missing : State::unknown);
      item.vanished = item.matched && st == perfdata::CSTATUS_NO_INSTANCE;
      item.counter = nullptr;
      continue;
    }
    if (!describe(r, item)) continue;
    item.process_ids = add_process_ids(r, query, prefix, item.result, false);
    ++live;
  }
  return live;
}

// One reading: `bad` is its failing status (0: `value` counts) and `detail`
// what the backend says beyond it. A plain counter that one sample leaves
// without a value says how to get one; an array's instance that fails is
// there and could not be read.
void take(const Request& r, Item& item, perfdata::Status bad, double value, bool in_array,
          const std::string& detail) {
  if (bad != 0 && !detail.empty())
    item.set_problem(detail);
  else if (bad == perfdata::CSTATUS_INVALID_DATA && r.interval_ms == 0 && !in_array)
    item.set_problem("no value from one sample (-s greater than 0)");
  else if (bad != 0)
    item.set_problem(perfdata::status_words(bad));
  else if (!std::isfinite(value))
    item.set_problem("the value is not a finite number");
  if (!item.live()) {
    item.read_failed = item.matched;
    return;
  }
  item.sum += value;
  ++item.readings;
}

// The array's instance of that name, new ones described as the array is.
Item& instance_of(Item& array, const std::string& name) {
  auto [at, added] = array.seen.try_emplace(name, array.instances.size());
  if (added) {
    const plugin::CounterResult& p = array.result;
    Item& item = array.instances.emplace_back(perfdata::join_path(p.object, &name, p.counter),
                                              array.result.source);
    item.result.kind = p.kind;
    item.result.unit = p.unit;
    item.result.explanation = p.explanation;
    item.result.described = p.described;
    item.result.uncapped = p.uncapped;
    item.raw_type = array.raw_type;
    item.time_base = array.time_base;
    item.by_raw = array.by_raw;
  }
  return array.instances[at->second];
}

// An instance missing from a read has ended (or not started yet): it is left
// out of that round. One that is there keeps its first failure.
void read_array(const Request& r, uint32_t format, Item& array,
                std::vector<perfdata::ArrayItem>& found) {
  const perfdata::Status st = perfdata::get_formatted_counter_array(array.counter, format, &found);
  if (st != 0) {
    const std::string detail = perfdata::failure_detail(nullptr, array.counter);
    array.set_problem(detail.empty() ? perfdata::status_words(st) : detail);
    return;
  }
  // Later reads mostly find the same instances: the first read sizes both.
  if (array.instances.empty()) {
    array.instances.reserve(found.size());
    array.seen.reserve(found.size());
  }
  for (perfdata::ArrayItem& a : found) {
    if (left_out(r, a.name)) continue;
    Item& item = instance_of(array, a.name);
    if (item.live())
      take(r, item, perfdata::is_usable(a.c_status) ? 0 : a.c_status, a.value, true, a.detail);
  }
}

void read_round(const Request& r, std::vector<Item>& items) {
  const uint32_t format = perfdata::FMT_DOUBLE | (r.no_cap ? perfdata::FMT_NOCAP100 : 0);
  std::vector<perfdata::ArrayItem> found;
  for (Item& item : items) {
    if (!item.live() || item.by_raw || item.settled) continue;
    if (item.array) {
      read_array(r, format, item, found);
      continue;
    }
    perfdata::CounterValue v;
    const perfdata::Status st = perfdata::get_formatted_counter_value(item.counter, format, &v);
    // Backends report an unusable reading either way: as the call's status
    // or as the record's.
    const perfdata::Status bad = st != 0 ? st : perfdata::is_usable(v.c_status) ? 0 : v.c_status;
    take(r, item, bad, v.value, false,
         bad != 0 ? perfdata::failure_detail(nullptr, item.counter) : std::string());
  }
}

void set_value(Item& item) {
  if (!item.live() || item.array) return;
  item.result.has_value = true;
  item.result.value = item.sum / item.readings;
}

// One raw record as the reading: its totals, or the value of a type that
// one record gives; a record that gives neither fails with its status (or
// INVALID_DATA).
void take_raw(const Request& r, Item& item, perfdata::Status st, const perfdata::RawCounter& raw,
              const std::string& detail) {
  perfdata::Status bad = st != 0 ? st : perfdata::is_usable(raw.c_status) ? 0 : raw.c_status;
  double value = 0.0;
  if (bad == 0 && perfdata::has_running_total(item.raw_type)) {
    if (!to_totals(item.raw_type, item.time_base, raw, &item.result.totals))
      bad = perfdata::CSTATUS_INVALID_DATA;
    value = item.result.totals.sum;
  } else if (bad == 0) {
    perfdata::CounterValue v;
    const uint32_t format = perfdata::FMT_DOUBLE | (r.no_cap ? perfdata::FMT_NOCAP100 : 0);
    bad = perfdata::counter_value(item.raw_type, item.time_base, format, &raw, nullptr, &v);
    value = v.value;
  }
  take(r, item, bad, value, true, bad != 0 ? detail : std::string());
}

// The counters read from their raw records, at the first collection.
void read_raw(const Request& r, std::vector<Item>& items) {
  std::vector<perfdata::RawArrayItem> found;
  for (Item& item : items) {
    if (!item.live() || !item.by_raw) continue;
    if (!item.array) {
      perfdata::RawCounter raw;
      const perfdata::Status st = perfdata::get_raw_counter_value(item.counter, &raw);
      take_raw(r, item, st, raw, perfdata::failure_detail(nullptr, item.counter));
      continue;
    }
    const perfdata::Status st = perfdata::get_raw_counter_array(item.counter, &found);
    if (st != 0) {
      const std::string detail = perfdata::failure_detail(nullptr, item.counter);
      item.set_problem(detail.empty() ? perfdata::status_words(st) : detail);
      continue;
    }
    item.instances.reserve(found.size());
    for (const perfdata::RawArrayItem& a : found) {
      if (left_out(r, a.name)) continue;
      Item& instance = instance_of(item, a.name);
      if (instance.live()) take_raw(r, instance, 0, a.raw, std::string());
    }
  }
}

// The ids of the processes read, from the latest collection.
void read_process_ids(std::vector<Item>& items) {
  std::vector<perfdata::ArrayItem> found;
  std::unordered_map<std::string, std::string> ids;
  for (Item& item : items) {
    if (item.process_ids == nullptr || !item.live()) continue;
    if (!item.array) {
      perfdata::CounterValue v;
      if (perfdata::get_formatted_counter_value(item.process_ids, perfdata::FMT_DOUBLE, &v) == 0)
        item.result.process_id = id_text(v);
      continue;
    }
    if (perfdata::get_formatted_counter_array(item.process_ids, perfdata::FMT_DOUBLE, &found) != 0)
      continue;
    ids.clear();
    for (const perfdata::ArrayItem& a : found) ids[a.name] = id_text({a.c_status, a.value});
    for (Item& instance : item.instances)
      if (const auto id = ids.find(instance.result.instance); id != ids.end())
        instance.result.process_id = id->second;
  }
}

// `collected`: the first collection was taken already (--since-last's).
void read_rounds(const Request& r, perfdata::Query query, std::vector<Item>& items,
                 bool collected = false) {
  if (!collected) perfdata::collect_query_data(query);
  bool pause = r.interval_ms != 0;
  if (wants_totals(r)) {
    read_raw(r, items);
    // Only a counter without a raw series waits -s.
    pause = pause && std::any_of(items.begin(), items.end(),
                                 [](const Item& i) { return i.live() && !i.by_raw; });
  }
  const uint32_t rounds = pause ? r.samples : 1;
  for (uint32_t round = 0; round < rounds; ++round) {
    if (pause) {
      perfdata::sleep_ms(r.interval_ms);
      perfdata::collect_query_data(query);
    }
    read_round(r, items);
  }
}

// The values since the last run where the stored records allow, from one
// collection; the rounds over -s for the rest.
void read_since_last(const Request& r, perfdata::Query query, const std::string& prefix,
                     std::vector<Item>& items, plugin::CheckResult& result) {
  std::vector<SinceSource> sources;
  std::vector<Item*> of;
  for (Item& item : items) {
    // A running total comes from one collection already: no window to judge.
    if (!item.live() || item.counter == nullptr || item.by_raw) continue;
    SinceSource& s = sources.emplace_back();
    s.counter = item.counter;
    s.path = item.result.path;
    s.array = item.array;
    of.push_back(&item);
  }
  SinceLast since(r);
  if (!since.open(query, prefix, sources, &result.problem)) return;
  perfdata::collect_query_data(query);
  const bool all = since.pair(sources);
  for (size_t i = 0; i < sources.size(); ++i) {
    const SinceSource& s = sources[i];
    Item& item = *of[i];
    if (!s.settled) continue;
    item.settled = true;
    if (!item.array) take(r, item, 0, s.value, false, {});
    for (const auto& [name, value] : s.values)
      if (!left_out(r, name)) take(r, instance_of(item, name), 0, value, true, {});
  }
  if (!all) read_rounds(r, query, items, true);
  since.store(sources, !all, &result.window);
}

void read_values(const Request& r, perfdata::Query query, const std::string& prefix,
                 std::vector<Item>& items, plugin::CheckResult& result) {
  if (r.since_last)
    read_since_last(r, query, prefix, items, result);
  else
    read_rounds(r, query, items);
  read_process_ids(items);
  for (Item& item : items) {
    set_value(item);
    // Each instance is averaged over the rounds it was present in.
    for (Item& instance : item.instances) set_value(instance);
    // "_Total" leads, as discovery lists it (an array gives it last); one
    // such instance is rotated to the front rather than every item moved twice.
    const auto total = [](const Item& i) { return perfdata::iequals(i.result.instance, "_Total"); };
    auto& list = item.instances;
    const auto first = std::find_if(list.begin(), list.end(), total);
    if (first != list.end() && std::none_of(first + 1, list.end(), total))
      std::rotate(list.begin(), first, first + 1);
    else if (first != list.end())
      std::stable_partition(list.begin(), list.end(), total);
  }
}

// An expanded instance without a reading ended between expansion and
// sampling, as processes do, when others of its path were read; when none
// were, the fault is the counter's and stays reported.
void drop_vanished(const Request& r, std::vector<Item>& items) {
  std::vector<bool> path_read(r.paths.size(), false);
  for (const Item& item : items)
    if (item.matched && item.live()) path_read[item.result.source] = true;
  std::erase_if(items, [&path_read](const Item& item) {
    return item.vanished || (item.read_failed && path_read[item.result.source]);
  });
}

}  // namespace

plugin::CheckResult check_counters(const Request& r) {
  plugin::CheckResult result;
  result.unmatched_state = r.missing;
  perfdata::Query query = nullptr;
  const perfdata::Status st = perfdata::open_query(&query);
  if (st != 0) {
    result.problem = "cannot open a performance-data query: " + perfdata::status_words(st);
    return result;
  }
  // The computer's name, asked once for every path.
  const std::string prefix = perfdata::local_path("");
  std::vector<Item> items;
  resolve(r, query, prefix, items, result.problem);
  if (result.problem.empty() && add_counters(r, query, prefix, items) > 0)
    read_values(r, query, prefix, items, result);
  perfdata::close_query(query);
  if (!result.problem.empty()) return result;
  drop_vanished(r, items);
  size_t shown = 0;
  for (const Item& item : items) shown += item.array && item.live() ? item.instances.size() : 1;
  result.counters.reserve(shown);
  std::vector<bool> reported(r.paths.size(), false);
  auto report = [&](Item& item) {
    reported[item.result.source] = true;
    result.counters.push_back(std::move(item.result));
  };
  for (Item& item : items) {
    if (!item.array || !item.live())
      report(item);
    else
      for (Item& instance : item.instances) report(instance);
  }
  // A wildcard path without an instance to show: none matched, or every one
  // that did ended before it could be read.
  for (size_t i = 0; i < r.paths.size(); ++i)
    if (!reported[i] && has_star(r.paths[i])) result.unmatched.push_back(r.paths[i]);
  return result;
}

}  // namespace check_vantric
