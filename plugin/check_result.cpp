#include "plugin/check_result.h"

#include <unordered_map>
#include <unordered_set>

namespace plugin {

State overall_state(const CheckResult& result) {
  State worst = result.unmatched.empty() ? State::ok : result.unmatched_state;
  for (const CounterResult& counter : result.counters) worst = worse(worst, counter.state);
  return worst;
}

CounterResult counter_result(std::string path) {
  CounterResult result;
  const size_t open = path.find('(');
  const size_t close = path.rfind(")\\");
  const size_t last = path.rfind('\\');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    result.object = path.substr(1, open - 1);
    result.instance = path.substr(open + 1, close - open - 1);
  } else if (last != std::string::npos && last > 0) {
    result.object = path.substr(1, last - 1);
  } else {
    result.object = path.substr(path.starts_with('\\') ? 1 : 0);
  }
  if (last != std::string::npos && last > 0) result.counter = path.substr(last + 1);
  result.path = std::move(path);
  return result;
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
