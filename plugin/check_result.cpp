#include "plugin/check_result.h"

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
    if (label.empty())
      counter.label = counter.path;
    else if (!many)
      counter.label = label;
    else
      counter.label = std::string(label) + "_" +
                      (counter.instance.empty() ? counter.counter : counter.instance);
  }
}

}  // namespace plugin
