// The text a monitoring plugin hands to its agent: numbers that read the
// same in every locale, performance-data items and the status line.
//
//   status_line("VANTRIC", State::ok, "\\Memory\\Available Bytes = 1048576B",
//               {perfdata_item("\\Memory\\Available Bytes", 1048576, "B", "", "", "", "")})
//   -> "VANTRIC OK - \Memory\Available Bytes = 1048576B | '\Memory\Available Bytes'=1048576B"
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/state.h"

namespace plugin {

// `value` in plain decimal: '.' point, no grouping, no exponent, at most six
// decimals (rounded to nearest) with trailing zeros and a bare point dropped;
// minus zero reads "0". Infinities and NaN, which no agent can parse, give
// "inf", "-inf" and "nan"; callers report such values instead of writing
// them. 1e20 -> "100000000000000000000", 2.5e-7 -> "0", 12.3456789 -> "12.345679".
std::string plain_number(double value);

// The one rule for text an agent reads line by line (status line, detail
// lines, listings, error texts), whatever a backend or the user put in it:
// '|' (which would start the performance data) becomes '/', and every
// control byte (0x00 to 0x1F and 0x7F: CR, LF, TAB among them) a space, so
// a piece stays inside its line and its TAB-separated field. Other bytes,
// UTF-8 included, pass unchanged.
//   line_text("x|load=99;1;1\nnext") -> "x/load=99;1;1 next"
std::string line_text(std::string_view text);

// One listing line: the fields, each made line_text, joined by TABs, then "\n".
//   listing_line({"instance", "a\tb"}) -> "instance\ta b\n"
std::string listing_line(std::initializer_list<std::string_view> fields);

// A label as a performance-data item writes it, before quoting: '=' (which
// no parser allows there), '|' and every control byte (CR, LF, TAB, ...)
// become '_'. Distinct labels can meet here ("a=b" and "a_b"), so labels
// are made distinct in this form.
//   perfdata_label("a=b\tc") -> "a_b_c"
std::string perfdata_label(std::string_view label);

// One performance-data item: 'label'=value[uom];[warn];[crit];[min];[max],
// empty trailing fields left out. The label is perfdata_label(label) with
// every single quote doubled.
//   perfdata_item("a'b", 5, "%", "80", "90", "0", "100") -> "'a''b'=5%;80;90;0;100"
std::string perfdata_item(std::string_view label, double value, std::string_view uom,
                          std::string_view warn, std::string_view crit, std::string_view min,
                          std::string_view max);

// The first line, without a line end: "<service> <STATE> - <summary>", then
// " | " and the items separated by single spaces when there are any. The
// summary is made line_text: a '|' in it would start the perfdata early.
std::string status_line(std::string_view service, State state, std::string_view summary,
                        const std::vector<std::string>& perfdata);

// The same line without perfdata, with its "\n", built in `buffer` without
// allocating (an ending that may have no heap left): a CR LF pair in the
// summary is one space and line ends at its end are dropped, so a multi-line
// report reads as one line. The summary is cut so that the whole fits in
// `capacity` bytes (at least the service, the state and " - \n" must fit).
// Returns the length; nothing is zero-ended.
//   status_line_into("VANTRIC", State::unknown, "a.\r\nOut of memory.\r\n", buffer, 80)
//     -> "VANTRIC UNKNOWN - a. Out of memory.\n"
std::size_t status_line_into(std::string_view service, State state, std::string_view summary,
                             char* buffer, std::size_t capacity);

}  // namespace plugin
