#include "plugin/check_result.h"

#include <algorithm>

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

namespace {

size_t count_of(const std::vector<std::string>& labels, const std::string& label) {
  return static_cast<size_t>(std::count(labels.begin(), labels.end(), label));
}

}  // namespace

void assign_labels(std::string_view label, std::vector<CounterResult>& counters) {
  const bool many = counters.size() > 1;
  std::vector<std::string> labels;
  for (const CounterResult& counter : counters) {
    if (label.empty())
      labels.push_back(counter.path);
    else if (!many)
      labels.emplace_back(label);
    else
      labels.push_back(std::string(label) + "_" +
                       (counter.instance.empty() ? counter.counter : counter.instance));
  }
  // A repeated instance (several counters of one instance) says the counter too;
  // labels that were distinct stay as they were.
  const std::vector<std::string> first = labels;
  for (size_t i = 0; i < counters.size(); ++i)
    if (!label.empty() && !counters[i].instance.empty() && count_of(first, first[i]) > 1)
      labels[i] += "_" + counters[i].counter;
  // What is still equal (the same path twice) is numbered by position.
  for (size_t i = 0; i < counters.size(); ++i) {
    const std::vector<std::string> before(labels.begin(), labels.begin() + i);
    std::string unique = labels[i];
    for (size_t n = 2; count_of(before, unique) > 0; ++n)
      unique = labels[i] + "#" + std::to_string(n);
    labels[i] = unique;
    counters[i].label = unique;
  }
}

}  // namespace plugin
