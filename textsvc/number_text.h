// Number text conversion: floating values to text and texts to numbers, with
// the separators and currency settings of the user's locale.
//
// Floating work is done in the x87 80-bit extended format (see float80.h),
// with identical results on every processor; `long double` values are taken
// into that format exactly when they are doubles or extended values.
// Worked example, "." as decimal separator:
//   render_float(12.345678L, FloatMode::fixed, 15, 5)  -> "12.34568"
//   parse_float("12.34568")                           -> 12.34568L
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The locale's number settings, loaded once at start-up, read-only afterwards.
struct NumberSettings {
  std::string currency_text;             // currency symbol; empty when unreadable
  uint8_t currency_format = 0;           // 0..3 (higher counts as 3)
  uint8_t negative_currency_format = 0;  // 0..15 (higher counts as 15)
  char thousand_separator = ',';         // NUL: no grouping character is written
  char decimal_separator = '.';          // NUL: no separator is written
  uint8_t currency_decimals = 0;
};

extern NumberSettings number_settings;

// Fills `number_settings` from the user's locale; never fails.
void load_number_settings();

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
// x times 10^n through the correctly rounded power tables (at most three
// multiplications, or divisions for negative n); n >= 5120 gives infinity,
// n <= -5120 gives 0.
long double scale_by_power_of_ten(long double x, int n);

// Parses a decimal number written with the locale's decimal separator:
// blanks (spaces only), a sign, digits with at most one separator, an
// optional exponent "E"/"e" [sign] digits, blanks. Runs with all floating
// exceptions masked, round to nearest and a 64-bit significand, and gives
// the caller's control word back (status flags cleared), also on failure.
// Raises EConvertError "'<text>' is not a valid floating point value" for
// bad syntax and for overflow; underflow gives 0 or a subnormal quietly.
//   parse_float(" -12.5E1 ") -> -125.0L;  parse_float("1,5") raises (with ".")
long double parse_float(std::string_view text);

struct ScanIntResult {
  int32_t value = 0;
  bool ok = false;
};
// Decimal ("-42") or hexadecimal ("$1F", "0x1f", "x1F") 32-bit integer,
// after leading spaces and one sign; hexadecimal takes up to eight
// significant digits as a two's complement value ("$FFFFFFFF" is -1).
// Anything else, trailing blanks included, gives ok == false.
ScanIntResult scan_int(std::string_view text);
// Raises EConvertError "'<text>' is not a valid integer value".
int32_t parse_int(std::string_view text);
int32_t parse_int_or_default(std::string_view text, int32_t fallback);

// Upper-case hexadecimal of `value` taken as unsigned, at least `digits`
// digits (digits above 32 count as 0); never cut.
std::string int_to_hex(int64_t value, int digits);
// The same into `out` (room for 32 bytes), returning the length; allocates
// nothing, so the fault report can use it. write_hex(out, 0x1A2B, 8) writes
// "00001A2B" and returns 8.
std::size_t write_hex(char* out, uint64_t value, int digits);

// '0' to '9'.
inline bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }

// Locale items as the platform delivers them (see platform/locale.h).
std::string locale_text(uint32_t locale, uint32_t item, std::string_view fallback);
char locale_char(uint32_t locale, uint32_t item, char fallback);
