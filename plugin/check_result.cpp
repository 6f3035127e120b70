#include "plugin/check_result.h"

#include <unordered_map>

#include "plugin/agent_text.h"
#include <unordered_set>

#include "perfdata/paths.h"

namespace plugin {

State overall_state(const CheckResult& result) {
  if (!result.problem.empty()) return State::unknown;
  State worst = result.unmatched.empty() ? State::ok : result.unmatched_state;
  for (const CounterResult& counter : result.counters) worst = worse(worst, counter.state);
  return worst;
}

CounterResult counter_result(std::string path, size_t source) {
  perfdata::ParsedPath parts;
  perfdata::parse_path(path, parts, true);
  CounterResult result;
  result.object = std::move(parts.object);
  result.instance = std::move(parts.written_instance);
  result.counter = std::move(parts.counter);
  result.path = std::move(path);
  result.source = source;
  return result;
}

void apply_thresholds(const std::vector<Thresholds>& per_path, CheckResult& result) {
  for (CounterResult& counter : result.counters) {
    const Thresholds& t = per_path[counter.source];
    if (t.has_warn) counter.warn = t.warn_text;
    if (t.has_crit) counter.crit = t.crit_text;
    if (!counter.has_value) continue;
    if (t.has_crit && range_alerts(t.crit, counter.value))
      counter.state = State::critical;
    else if (t.has_warn && range_alerts(t.warn, counter.value))
      counter.state = State::warning;
  }
}

namespace {

// More values than this make the summary too long for an agent's one-line
// view; it then counts them instead.
constexpr size_t kListedValues = 5;

std::string counters_summary(const std::vector<CounterResult>& counters) {
  std::vector<const CounterResult*> not_ok;
  for (const CounterResult& counter : counters)
    if (counter.state != State::ok) not_ok.push_back(&counter);
  std::string text;
  if (not_ok.empty() && counters.size() <= kListedValues) {
    for (size_t i = 0; i < counters.size(); ++i)
      text += (i ? ", " : "") + counter_text(counters[i]);
  } else if (not_ok.empty()) {
    text = "all " + std::to_string(counters.size()) + " counters OK";
  } else {
    text = std::to_string(not_ok.size()) + " of " + std::to_string(counters.size()) +
           " counters not OK: ";
    for (size_t i = 0; i < not_ok.size(); ++i)
      text +=
          (i ? ", " : "") + counter_text(*not_ok[i]) + " (" + state_word(not_ok[i]->state) + ")";
  }
  return text;
}

}  // namespace

std::string counter_text(const CounterResult& counter) {
  if (!counter.has_value) return counter.path + ": " + counter.problem;
  return counter.path + " = " + plain_number(counter.value) + counter.unit;
}

std::string summary(const CheckResult& result) {
  if (!result.problem.empty()) return result.problem;
  if (result.counters.size() == 1 && result.unmatched.empty())
    return counter_text(result.counters[0]);
  std::string text;
  for (const std::string& path : result.unmatched) text += (text.empty() ? "" : ", ") + path;
  if (!text.empty()) text += ": no match";
  if (result.counters.empty()) return text;
  if (!text.empty()) text += "; ";
  return text + counters_summary(result.counters);
}

void assign_labels(std::string_view label, std::vector<CounterResult>& counters) {
  const bool many = counters.size() > 1;
  for (CounterResult& counter : counters) {
    if (label.empty()) {
      counter.label = counter.path;
    } else if (!many) {
      counter.label = label;
    } else {
      const std::string& part = counter.instance.empty() ? counter.counter : counter.instance;
      counter.label.reserve(label.size() + 1 + part.size());
      counter.label = label;
      counter.label += '_';
      counter.label += part;
    }
  }
  // A repeated instance (several counters of one instance) says the counter too;
  // labels that were distinct stay as they were.
  if (!label.empty() && many) {
    std::unordered_map<std::string_view, size_t> uses;
    uses.reserve(counters.size());
    for (const CounterResult& counter : counters) ++uses[counter.label];
    std::vector<char> repeated(counters.size());
    for (size_t i = 0; i < counters.size(); ++i)
      repeated[i] = !counters[i].instance.empty() && uses[counters[i].label] > 1;
    uses.clear();  // its keys point into the labels about to grow
    for (size_t i = 0; i < counters.size(); ++i)
      if (repeated[i]) (counters[i].label += '_') += counters[i].counter;
  }
  // What is still equal, as the performance data writes it ("a=b" and "a_b"
  // both read 'a_b'), is numbered by position. `next` remembers where the
  // search for a free number stopped, so a path given many times costs no
  // more than many paths.
  std::unordered_set<std::string> taken;
  std::unordered_map<std::string, size_t> next;
  taken.reserve(counters.size());
  for (CounterResult& counter : counters) {
    std::string written = perfdata_label(counter.label);
    if (!taken.contains(written)) {
      taken.insert(std::move(written));
      continue;
    }
    size_t& n = next.try_emplace(written, 2).first->second;
    const size_t base = written.size();
    for (;; ++n) {
      written.resize(base);
      written += '#';
      written += std::to_string(n);
      if (taken.insert(written).second) break;
    }
    counter.label += '#';
    counter.label += std::to_string(n++);
  }
}

}  // namespace plugin
