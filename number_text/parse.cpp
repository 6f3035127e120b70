#include "number_text/parse.h"

#include <algorithm>
#include <cstdint>

#include "failure/failure.h"
#include "float80/float80.h"
#include "number_text/integers.h"
#include "number_text/number_settings.h"
#include "number_text/power_scale.h"

namespace {

using power_scale::kScaleLimit;

// The parse proper; false when the text is not a number or the value
// overflows. Runs inside `session`.
bool parse_float_text(std::string_view text, const Float80FlagScope& session, Float80& value) {
  const char* chars = text.data();
  const std::size_t size = text.size();
  const char sep = number_settings.decimal_separator;
  std::size_t at = 0;
  while (at < size && chars[at] == ' ') ++at;
  bool minus = false;
  if (at < size && (chars[at] == '+' || chars[at] == '-')) {
    minus = chars[at] == '-';
    ++at;
  }
  // While the digits read stay below 10^19 every step acc * 10 + digit is
  // exact in the extended format, so an integer does the same work faster;
  // from the 20th significant digit on the rounding steps are floating.
  uint64_t small = 0;
  int small_digits = 0;
  Float80 acc = 0;
  bool in_floating = false;
  auto take_digit = [&](char c) {
    unsigned digit = static_cast<unsigned>(c - '0');
    if (!in_floating) {
      if (small_digits < 19) {
        small = small * 10 + digit;
        if (small != 0) ++small_digits;
        return;
      }
      acc = Float80(small);
      in_floating = true;
    }
    acc = acc * 10 + digit;
  };
  bool consumed = false;
  int64_t fraction_digits = 0;
  for (; at < size && is_decimal_digit(chars[at]); ++at) {
    take_digit(chars[at]);
    consumed = true;
  }
  if (at < size && chars[at] == sep) {
    ++at;
    consumed = true;
    for (; at < size && is_decimal_digit(chars[at]); ++at) {
      take_digit(chars[at]);
      ++fraction_digits;
    }
  }
  if (!consumed) return false;
  if (!in_floating) acc = Float80(small);
  int64_t exponent = 0;
  if (at < size && (chars[at] == 'E' || chars[at] == 'e')) {
    ++at;
    bool exponent_minus = false;
    if (at < size && (chars[at] == '+' || chars[at] == '-')) {
      exponent_minus = chars[at] == '-';
      ++at;
    }
    // Stops after the digit that reaches 500: anything beyond is either
    // overflow or underflow, and what is left over fails the parse.
    while (at < size && is_decimal_digit(chars[at])) {
      exponent = exponent * 10 + (chars[at] - '0');
      ++at;
      if (exponent >= 500) break;
    }
    if (exponent_minus) exponent = -exponent;
  }
  while (at < size && chars[at] == ' ') ++at;
  if (at != size) return false;

  int64_t power = std::clamp<int64_t>(exponent - fraction_digits, -kScaleLimit, kScaleLimit);
  Float80 result = scale_power(acc, static_cast<int>(power));
  if (minus) result = -result;
  if (session.overflow_or_invalid(result)) return false;
  value = result;
  return true;
}

}  // namespace

long double parse_float(std::string_view text) {
  Float80 value = 0;
  bool ok;
  {
    Float80FlagScope session;
    ok = parse_float_text(text, session, value);
  }
  // The caller's floating-point control is back before the failure leaves.
  if (!ok) raise_convert_error("'%s' is not a valid floating point value", text);
  return from_float80(value);
}
