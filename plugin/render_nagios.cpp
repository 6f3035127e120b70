#include "plugin/render_nagios.h"

#include "plugin/agent_text.h"

namespace plugin {
namespace {

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

std::string render_nagios(std::string_view service, const CheckResult& result, bool verbose) {
  std::string out = status_line(service, overall_state(result), summary(result), perfdata(result));
  out += "\n";
  if (verbose)
    for (const CounterResult& counter : result.counters) out += detail_line(counter);
  if (verbose)
    for (const std::string& line : result.window.lines) out += line_text(line) + "\n";
  return out;
}

}  // namespace plugin
