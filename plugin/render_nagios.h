// A check result as a monitoring agent (NRPE, Icinga 2) reads it: one status
// line, then with `verbose` one detail line per counter, each ending in "\n".
//
// Status line: "<service> <STATE> - <summary>[ | <perfdata>]", the state being
// overall_state(result). The summary:
//   - one counter and nothing unmatched: "<path> = <value><unit>", or
//     "<path>: <problem>" for a counter without a value;
//   - unmatched paths first: "<p1>, <p2>: no match", then "; " and the rest;
//   - every counter OK and at most five: each as above, ", " between them;
//   - every counter OK and more than five: "all <N> counters OK";
//   - else "<K> of <N> counters not OK: " and each counter not OK as above
//     with " (<STATE>)" after it.
// Values are plugin::number_text; perfdata has one item per counter with a
// value: its label, value and unit, its warn and crit texts, and "0;100"
// for the unit '%'. A detail line is "<counter as above> <STATE>", then for a
// described counter with a value " [<kind>]" or " [<kind>: <explanation>]".
// The status line's summary and every detail line are plugin::line_text, so
// a name holding '|' or a line end cannot reach the perfdata or a new line.
// Nothing fails; the text is built whole.
//
//   render_nagios("VANTRIC", {counters = {{.path = "\\System\\Threads",
//                 .has_value = true, .value = 812, .label = "\\System\\Threads"}}}, false)
//   -> "VANTRIC OK - \System\Threads = 812 | '\System\Threads'=812\n"
#pragma once

#include <string>
#include <string_view>

#include "plugin/check_result.h"

namespace plugin {

std::string render_nagios(std::string_view service, const CheckResult& result, bool verbose);

// The status line's summary alone, as the rules above give it (before
// line_text), for renderers that show it in a form of their own.
std::string nagios_summary(const CheckResult& result);

}  // namespace plugin
