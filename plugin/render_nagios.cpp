#include "plugin/render_nagios.h"

namespace plugin {
namespace {

// More values than this make the summary too long for an agent's one-line
// view; it then counts them instead.
constexpr size_t kListedValues = 5;

std::string counter_text(const CounterResult& counter) {
  if (!counter.has_value) return counter.path + ": " + counter.problem;
  return counter.path + " = " + number_text(counter.value) + counter.unit;
}

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

std::vector<std::string> perfdata(const CheckResult& result) {
  std::vector<std::string> items;
  items.reserve(result.counters.size());
  for (const CounterResult& counter : result.counters) {
    if (!counter.has_value) continue;
    const bool percent = counter.unit == "%";
    // An uncapped percentage has no maximum to state: 100 per processor busy.
    items.push_back(perfdata_item(counter.label, counter.value, counter.unit, counter.warn,
                                  counter.crit, percent ? "0" : "",
                                  percent && !counter.uncapped ? "100" : ""));
  }
  return items;
}

std::string detail_line(const CounterResult& counter) {
  std::string line = counter_text(counter) + " " + state_word(counter.state);
  if (counter.has_value && counter.described) {
    line += " [" + counter.kind;
    if (!counter.explanation.empty()) line += ": " + counter.explanation;
    line += "]";
  }
  return line_text(line) + "\n";
}

}  // namespace

std::string nagios_summary(const CheckResult& result) {
  if (result.counters.size() == 1 && result.unmatched.empty())
    return counter_text(result.counters[0]);
  std::string text;
  for (const std::string& path : result.unmatched) text += (text.empty() ? "" : ", ") + path;
  if (!text.empty()) text += ": no match";
  if (result.counters.empty()) return text;
  if (!text.empty()) text += "; ";
  return text + counters_summary(result.counters);
}

std::string render_nagios(std::string_view service, const CheckResult& result, bool verbose) {
  std::string out =
      status_line(service, overall_state(result), nagios_summary(result), perfdata(result));
  out += "\n";
  if (verbose)
    for (const CounterResult& counter : result.counters) out += detail_line(counter);
  return out;
}

}  // namespace plugin
