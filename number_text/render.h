// Floating values rendered as text, with the separators and currency
// settings of the user's locale (number_settings).
//
// The work is done in the x87 80-bit extended format (float80/float80.h),
// with identical results on every processor; `long double` values are taken
// into that format exactly when they are doubles or extended values.
// Worked example, "." as decimal separator:
//   render_float(12.345678L, FloatMode::fixed, 15, 5)  -> "12.34568"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class FloatMode : int { general = 0, exponent = 1, fixed = 2, number = 3, currency = 4 };

// The decimal form of one value.
struct FloatDigits {
  int16_t decimal_exponent = 0;  // 32767: infinity; -32768: NaN
  bool negative = false;
  char digit_string[19] = {};  // up to 18 significant digits, NUL-terminated
};

// Renders `value`; never fails.
//   precision: significant digits, clamped to 2..18.
//   digits: modes general/exponent: least exponent digits (0..4, others 0);
//           modes fixed/number/currency: decimals, clamped to 0..18.
// Rounding is half away from zero on the 18-digit decimal expansion of the
// binary value (1.005 with 2 decimals gives "1.00"). Infinities give "INF"
// and "-INF", NaN "NAN". A value with more than `precision` integer digits
// falls back to the general layout ("1E20"). Longest texts: general and
// exponent 26, fixed 38, number 43, currency 45 plus the currency text
// (used up to 256 bytes).
//   render_float(-1234.5L, FloatMode::number, 18, 2) -> "-1,234.50"
//   render_float(0.00001L, FloatMode::exponent, 4, 2) -> "1.000E-05"
std::string render_float(long double value, FloatMode mode, int precision, int digits);
// The same into `out`, which must hold kRenderFloatCapacity bytes; returns
// the length written (no NUL). Allocates nothing and leaves the caller's
// floating-point control as it was.
constexpr std::size_t kRenderFloatCapacity = 64 + 256;
std::size_t render_float_into(char* out, long double value, FloatMode mode, int precision,
                              int digits);

// The digits of `value` rounded to at most `precision` significant digits
// and `decimals` places after the point, in one rounding step. The first
// digit is always significant.
FloatDigits to_decimal_digits(long double value, int precision, int decimals);
