// Floating text read into a value: a decimal number written with the
// locale's decimal separator (number_settings), computed in the x87 80-bit
// extended format (float80/float80.h) with identical results on every
// processor.
//
//   parse_float(" -12.5E1 ") -> -125.0L
//   parse_float("1,5")       raises EConvertError "'1,5' is not a valid floating point value"
//                            (with "." as the decimal separator)
#pragma once

#include <string_view>

// Blanks (spaces only), a sign, digits with at most one separator, an
// optional exponent "E"/"e" [sign] digits, blanks. Runs with all floating
// exceptions masked, round to nearest and a 64-bit significand, and gives
// the caller's control word back (status flags cleared), also on failure.
// Raises EConvertError "'<text>' is not a valid floating point value" for
// bad syntax and for overflow; underflow gives 0 or a subnormal quietly.
long double parse_float(std::string_view text);
