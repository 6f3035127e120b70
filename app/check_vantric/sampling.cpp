#include "app/check_vantric/sampling.h"

#include <cmath>
#include <string>
#include <vector>

#include "app/check_vantric/finish.h"
#include "perfdata/perfdata.h"

namespace check_vantric {
namespace {

using plugin::State;

// One counter being checked: its result and what sampling it takes.
struct Item {
  explicit Item(std::string path) : result(plugin::counter_result(std::move(path))) {}
  plugin::CounterResult result;  // a non-empty problem: no value
  bool matched = false;          // found by a wildcard: may vanish before it is read
  size_t source = 0;             // index of the path it came from
  perfdata::Counter counter = nullptr;
  perfdata::CounterKind kind = perfdata::CounterKind::unknown;
  bool vanished = false;     // matched, then gone at the add (a process that ended)
  bool read_failed = false;  // matched, then no valid reading
  double sum = 0.0;

  bool live() const { return result.problem.empty(); }
};

std::vector<Item> resolve(const Request& r, std::vector<std::string>* unmatched) {
  std::vector<Item> items;
  for (size_t source = 0; source < r.paths.size(); ++source) {
    const std::string& p = r.paths[source];
    if (p.find('*') == std::string::npos) {
      items.emplace_back(p).source = source;
      continue;
    }
    std::vector<std::string> found;
    perfdata::Status st = perfdata::expand_wildcard_path(p.c_str(), &found);
    if (st == perfdata::NOT_IMPLEMENTED)
      fail_discovery(st, "wildcard expansion", "PdhExpandWildCardPathA", p);
    if (st != 0) {
      Item& bad = items.emplace_back(p);
      bad.source = source;
      bad.result.problem = perfdata::status_words(st);
      bad.result.state = State::unknown;
    } else if (found.empty()) {
      unmatched->push_back(p);
    }
    for (std::string& f : found) {
      Item& item = items.emplace_back(std::move(f));
      item.matched = true;
      item.source = source;
    }
  }
  return items;
}

std::string computer_prefix() {
  char name[64] = {};
  uint32_t size = sizeof name;
  std::string prefix = "\\\\";
  if (perfdata::get_computer_name(name, &size)) prefix.append(name, size);
  return prefix;
}

void describe(Item& item) {
  perfdata::CounterInfo info;
  if (perfdata::get_counter_info(item.counter, &info) != 0) info = {};
  if (info.unit.empty() && info.kind == perfdata::CounterKind::percent) info.unit = "%";
  item.kind = info.kind;
  item.result.kind = perfdata::kind_word(info.kind);
  item.result.unit = info.unit;
  item.result.explanation = info.explanation;
  item.result.described = !info.name.empty();
}

// Adds every item that has no problem yet; returns how many were added.
size_t add_counters(const Request& r, perfdata::Query query, const std::string& prefix,
                    std::vector<Item>& items) {
  size_t live = 0;
  for (Item& item : items) {
    if (!item.live()) continue;
    const perfdata::Status st =
        perfdata::add_english_counter(query, (prefix + item.result.path).c_str(), &item.counter);
    if (st != 0) {
      item.result.problem = perfdata::status_words(st);
      item.result.state = st == perfdata::CSTATUS_NO_INSTANCE ? r.missing : State::unknown;
      item.vanished = item.matched && st == perfdata::CSTATUS_NO_INSTANCE;
      item.counter = nullptr;
      continue;
    }
    describe(item);
    if (r.interval_ms == 0 && perfdata::needs_two_samples(item.kind)) {
      item.result.problem =
          "is a " + item.result.kind + " counter: it needs two samples (-s greater than 0)";
      item.result.state = State::unknown;
      continue;
    }
    ++live;
  }
  return live;
}

void read_round(const Request& r, std::vector<Item>& items) {
  for (Item& item : items) {
    if (!item.live()) continue;
    perfdata::CounterValue v;
    const perfdata::Status st =
        perfdata::get_formatted_counter_value(item.counter, perfdata::FMT_DOUBLE, &v);
    // Backends report an unusable reading either way: as the call's status
    // or as the record's.
    const perfdata::Status bad = st != 0                                   ? st
                                 : v.c_status > perfdata::CSTATUS_NEW_DATA ? v.c_status
                                                                           : 0;
    if (bad == perfdata::CSTATUS_INVALID_DATA && r.interval_ms == 0)
      item.result.problem = "no value from one sample (-s greater than 0)";
    else if (bad != 0)
      item.result.problem = perfdata::status_words(bad);
    else if (!std::isfinite(v.value))
      item.result.problem = "the value is not a finite number";
    else
      item.sum += v.value;
    if (!item.live()) {
      item.result.state = State::unknown;
      item.read_failed = item.matched;
    }
  }
}

void read_values(const Request& r, perfdata::Query query, std::vector<Item>& items) {
  perfdata::collect_query_data(query);
  const uint32_t rounds = r.interval_ms == 0 ? 1 : r.samples;
  for (uint32_t round = 0; round < rounds; ++round) {
    if (r.interval_ms != 0) {
      perfdata::sleep_ms(r.interval_ms);
      perfdata::collect_query_data(query);
    }
    read_round(r, items);
  }
  for (Item& item : items) {
    if (!item.live()) continue;
    item.result.has_value = true;
    item.result.value = item.sum / rounds;
  }
}

// A matched instance without a reading ended between expansion and
// sampling, as processes do, when others of its path were read; when none
// were, the fault is the counter's and stays reported.
void drop_vanished(const Request& r, std::vector<Item>& items) {
  std::vector<bool> path_read(r.paths.size(), false);
  for (const Item& item : items)
    if (item.matched && item.live()) path_read[item.source] = true;
  std::erase_if(items, [&path_read](const Item& item) {
    return item.vanished || (item.read_failed && path_read[item.source]);
  });
}

void sample(const Request& r, std::vector<Item>& items) {
  const std::string prefix = computer_prefix();
  perfdata::Query query = nullptr;
  const perfdata::Status st = perfdata::open_query(&query);
  if (st != 0) fail("cannot open a performance-data query: " + perfdata::status_words(st));
  if (add_counters(r, query, prefix, items) > 0) read_values(r, query, items);
  perfdata::close_query(query);
  drop_vanished(r, items);
}

void apply_thresholds(const Bounds& b, plugin::CounterResult& result) {
  if (b.has_warn) result.warn = b.warn_text;
  if (b.has_crit) result.crit = b.crit_text;
  if (!result.has_value) return;
  if (b.has_crit && plugin::range_alerts(b.crit, result.value))
    result.state = State::critical;
  else if (b.has_warn && plugin::range_alerts(b.warn, result.value))
    result.state = State::warning;
}

}  // namespace

plugin::CheckResult check_counters(const Request& r) {
  plugin::CheckResult result;
  result.unmatched_state = r.missing;
  std::vector<Item> items = resolve(r, &result.unmatched);
  const size_t matched = items.size();
  sample(r, items);
  // Every match ended before it could be read: as if none had matched.
  if (items.empty() && matched > 0) result.unmatched = r.paths;
  for (Item& item : items) {
    apply_thresholds(r.bounds[item.source], item.result);
    result.counters.push_back(std::move(item.result));
  }
  plugin::assign_labels(r.label, result.counters);
  return result;
}

}  // namespace check_vantric
