// The result of one check, independent of how it is shown: a list of
// counter results, each with what identifies it, what is known of it and
// either a value or the reason there is none, and its state; and the rules
// over it that every output format shares: thresholds, labels and the
// summary. The renderers (one per output format) turn a CheckResult into
// text; nothing else decides how a result reads.
//
//   CheckResult r;
//   r.counters.push_back({.path = "\\System\\Threads", .object = "System",
//                         .counter = "Threads", .kind = "count",
//                         .has_value = true, .value = 812, .label = "\\System\\Threads"});
//   overall_state(r) -> State::ok
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plugin/state.h"
#include "plugin/range.h"

namespace plugin {

// What a counter has counted since a start of its own, in base units, from
// one raw record: the shapes a Prometheus server forms rates from. `counter`:
// `sum` is a running total (seconds of a timer, bytes or a plain count);
// `pair`: `sum` is the time or amount summed over `count` operations, so
// that the growth of one over the growth of the other is the average.
// `inverse`: the sum is the time a counter's raw value does not count (the
// busy time of a processor whose raw value is its idle time).
struct Totals {
  enum class Shape { none, counter, pair };
  Shape shape = Shape::none;
  double sum = 0.0, count = 0.0;
  bool seconds = false;  // `sum` is a time in seconds (else the counter's own unit)
  bool inverse = false;
  bool queue = false;  // `sum` is a queue length integrated over seconds
};

struct CounterResult {
  std::string path;         // as checked, without the computer: "\Process(sshd)\Working Set"
  std::string object;       // "Process"
  std::string instance;     // "sshd"; empty for an object without instances
  std::string counter;      // "Working Set"
  std::string kind;         // "gauge", "count", "rate", "percent", "average",
                            // "fraction", "elapsed" or "unknown"
  std::string unit;         // "%", "B", "s" or "" (counts and rates)
  std::string explanation;  // one line; may be empty
  bool has_value = false;
  double value = 0.0;       // meaningful only with has_value
  std::string problem;      // why there is no value; empty with has_value
  State state = State::ok;  // after thresholds; UNKNOWN without a value
  std::string warn, crit;   // the range texts that applied ("" for none)
  std::string label;        // performance-data label, distinct within one result
  bool described = false;   // kind and explanation came from the service (else "unknown", "")
  bool uncapped = false;    // a percentage not held to 100 (a process on several processors)
  size_t source = 0;        // index of the checked path it came from
  Totals totals;            // shape none: `value` is the counter's value over the interval
  std::string process_id;   // a process instance's id, "" where unknown or not a process
};

// The time a check's values cover when it is judged since its last run
// (empty lines otherwise, and then no output shows it): the seconds since
// the stored records that were paired (0: none was), and the lines that tell
// it, each a sentence ("window: 300.2 s since the last run").
struct Window {
  double since_s = 0.0;
  std::vector<std::string> lines;
};

struct CheckResult {
  std::vector<CounterResult> counters;
  std::vector<std::string> unmatched;      // wildcard paths that matched nothing
  State unmatched_state = State::unknown;  // what such a path counts as (--missing)
  std::string problem;  // why nothing could be checked at all (no query); else empty
  Window window = {};   // --since-last only
};

// The worst state of every counter and of the unmatched paths; UNKNOWN for
// a result with a problem.
State overall_state(const CheckResult& result);

// The ranges that apply to one checked path; an empty range text counts as none.
struct Thresholds {
  std::string warn_text, crit_text;
  bool has_warn = false, has_crit = false;
  Range warn, crit;
};

// Gives every counter the range texts of its path (`per_path[counter.source]`)
// and, with a value, the state they give: CRITICAL when the critical range
// alerts, else WARNING when the warning range does; a counter without a
// value keeps its state.
//   crit "90", value 95 -> CRITICAL, crit "90"
void apply_thresholds(const std::vector<Thresholds>& per_path, CheckResult& result);

// A result named by its path alone, its object, instance (as written) and
// counter split off it by perfdata::parse_path, wildcards allowed (the
// instance runs to the last ")\", so "\Process(a(b))\X" gives "a(b)"):
// counter_result("\Process(sshd#1)\Working Set") -> object "Process",
// instance "sshd#1", counter "Working Set". A path with a single backslash
// ("\X") is all object.
CounterResult counter_result(std::string path, size_t source = 0);

// Gives every counter its performance-data label from the -l option `label`:
// without one the path; for a single counter the label itself; for several
// the label, '_' and the part that tells them apart (the instance, else the
// counter): assign_labels("cpu", {\Processor(0)\X, \Processor(1)\X})
// -> "cpu_0", "cpu_1". Labels stay distinct and depend only on the counters
// and their order: an instance that repeats adds '_' and the counter
// ("cpu__Total_% User Time"); a label still taken by an earlier counter as
// perfdata_label writes it (the same path twice, or "p_a=b" before "p_a_b")
// gets the first free "#2", "#3", ... by position. Linear in the counters.
void assign_labels(std::string_view label, std::vector<CounterResult>& counters);

// One counter as a summary shows it: "<path> = <value><unit>" (the value
// as plain_number), or "<path>: <problem>" without a value.
std::string counter_text(const CounterResult& counter);

// The one-line summary of a result, before line_text:
//   - a problem: the problem;
//   - one counter and nothing unmatched: that counter's counter_text;
//   - unmatched paths first: "<p1>, <p2>: no match", then "; " and the rest;
//   - every counter OK and at most five: each counter_text, ", " between them;
//   - every counter OK and more than five: "all <N> counters OK";
//   - else "<K> of <N> counters not OK: " and each counter not OK as above
//     with " (<STATE>)" after it.
//   two counters, one CRITICAL -> "1 of 2 counters not OK: \A\B = 95 (CRITICAL)"
std::string summary(const CheckResult& result);

}  // namespace plugin
