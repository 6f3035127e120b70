// Threshold ranges in the monitoring-plugin notation, and whether a value
// alerts against one.
//
//   N      alert when the value is outside 0..N
//   N:     alert when the value is below N
//   ~:N    alert when the value is above N
//   N:M    alert when the value is outside N..M (both ends inclusive)
//   @N:M   alert when the value is inside N..M (both ends inclusive)
//
// Endpoints are decimal numbers with an optional sign and a '.' point, read
// the same whatever the locale ("1e3", "1,5", "inf" and "0x10" are refused),
// of any size a double holds: each compares as its nearest double (a number
// too small for one as 0, "0.<400 zeros>1" included; one too large for one
// is refused). The start may not exceed the end.
//
//   parse_range("10:", &r, &why)  -> true; range_alerts(r, 9.5) -> true
//   parse_range("20:10", &r, &why) -> false; why == "start is greater than end"
#pragma once

#include <string>
#include <string_view>

namespace plugin {

struct Range {
  double start = 0.0;   // -infinity for "~"
  double end = 0.0;     // +infinity when the text ends with ':'
  bool inside = false;  // '@': alert inside instead of outside
};

// Parses `text`; on failure returns false and puts a short reason in `why`
// ("empty range", "'x' is not a decimal number", "start is greater than end",
// "'1e999' is out of range").
bool parse_range(std::string_view text, Range* range, std::string* why);

// True when `value` alerts against `range`. NaN never lies inside a range,
// so it alerts against every range without '@'.
bool range_alerts(const Range& range, double value);

}  // namespace plugin
