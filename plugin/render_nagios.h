// A check result as a monitoring agent (NRPE, Icinga 2) reads it: one status
// line, then with `verbose` one detail line per counter, each ending in "\n".
//
// Status line: "<service> <STATE> - <summary>[ | <perfdata>]", the state being
// overall_state(result) and the summary plugin::summary(result). Perfdata has
// one item per counter with a value: its label, value and unit, its warn and
// crit texts, and "0;100" for the unit '%'. A detail line is
// "<counter_text> <STATE>", then for a described counter with a value
// " [<kind>]" or " [<kind>: <explanation>]". After the detail lines, each
// of the result's window lines ("window: 300.2 s since the last run").
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

}  // namespace plugin
