// Pieces the machine-readable renderers (OpenMetrics, JSON) share: how long
// a valid UTF-8 sequence is, and the shortest number text that reads back
// as the same double.
//
//   utf8_sequence_length("\xC3\xA9x") -> 2      utf8_sequence_length("\xC3(") -> 0
//   append_shortest_number(&s, 0.1234568) appends "0.1234568"; 1e21 appends "1e+21"
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plugin {

// The length (1 to 4) of the well-formed UTF-8 sequence that starts `text`;
// 0 when `text` is empty or does not start with one: a stray continuation
// byte, a truncated sequence, an overlong form, a surrogate (U+D800 to
// U+DFFF) or a code point above U+10FFFF, and the bytes C0, C1, F5 to FF.
size_t utf8_sequence_length(std::string_view text);

// Appends `value` in the shortest decimal or exponent form that reads back
// as the same double ('.' point whatever the locale). Finite values only:
// the caller decides how its format writes infinities and NaN.
void append_shortest_number(std::string* out, double value);

}  // namespace plugin
