// Integer text: 32-bit integers read from decimal or hexadecimal text, and
// upper-case hexadecimal written without allocation (the fault report uses
// it).
//
//   scan_int("$1F")        -> {31, true};   scan_int("12 ") -> {0, false}
//   parse_int("abc")       raises EConvertError "'abc' is not a valid integer value"
//   int_to_hex(0x1A2B, 8)  -> "00001A2B"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
