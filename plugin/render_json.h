// A check result, an object list or a wildcard expansion as one JSON object
// on one line (with a final newline), for programs that read check_vantric.
//
// Strings: '"' and '\' escaped with a backslash, control characters (below
// U+0020, and U+007F) as \u00XX, well-formed UTF-8 copied as it is. A byte
// that is not part of well-formed UTF-8 becomes \udcXX, XX its value: a lone
// low surrogate, which no well-formed text contains, so the original bytes
// are recoverable (Python: json.loads(t)[k].encode("utf-8",
// "surrogateescape")); readers that refuse lone surrogates see U+FFFD.
// Numbers: shortest round-trip decimal; a value that is infinite or NaN
// (JSON has neither) is written as null with the problem "value is inf"
// ("-inf", "nan").
//
// No failure: every input has a rendering.
//
//   render_json("VANTRIC", {counters {\System\Threads, object System,
//               counter Threads, kind count, value 812, state OK}})
//   -> {"service":"VANTRIC","state":"OK","code":0,"summary":"\\System\\Threads = 812",
//       "counters":[{"path":"\\System\\Threads","object":"System","instance":null,
//       "counter":"Threads","kind":"count","unit":"","value":812,"state":"OK","code":0,
//       "warn":null,"crit":null,"label":"\\System\\Threads"}],"unmatched":[]}   (one line)
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plugin/check_result.h"

namespace plugin {

// "state"/"code" are overall_state(result) and its exit status; "summary" is
// line_text(summary(result)), the status line's summary. Each
// counter: path, object, instance (null when empty), counter, kind, unit,
// then "value" with a value or "problem" without one, state, code, warn and
// crit (null when no range applied), label. Each unmatched wildcard path:
// {"path", "state", "code"} with the result's unmatched_state. A result
// with window lines ends in "window":{"since_last_s":<seconds or null>,
// "notes":[<each line>]}; one without has no such member.
std::string render_json(std::string_view service, const CheckResult& result);

// One counter as --list shows it.
struct ListedCounter {
  std::string name;  // "% Processor Time"
  std::string kind;  // "percent"
  std::string unit;  // "%"
  std::string explanation;
};

// --list: {"objects":["Processor",...]}
std::string render_json_list(const std::vector<std::string>& objects);
// --list OBJECT: {"object":"Processor","counters":[{"name","kind","unit",
// "explanation"},...],"instances":["_Total","0",...]}
std::string render_json_list(std::string_view object, const std::vector<ListedCounter>& counters,
                             const std::vector<std::string>& instances);
// --expand PATH: {"pattern":"\\Process(ss*)\\Working Set","paths":[...]}
std::string render_json_expand(std::string_view pattern, const std::vector<std::string>& paths);

}  // namespace plugin
