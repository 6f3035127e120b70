#include "number_text/integers.h"

#include <cstring>

#include "failure/failure.h"

namespace {

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

ScanIntResult scan_int(std::string_view text) {
  const char* chars = text.data();
  const std::size_t size = text.size();
  std::size_t at = 0;
  while (at < size && chars[at] == ' ') ++at;
  bool minus = false;
  if (at < size && (chars[at] == '-' || chars[at] == '+')) {
    minus = chars[at] == '-';
    ++at;
  }
  bool hex = false;
  if (at < size && (chars[at] == '$' || chars[at] == 'x' || chars[at] == 'X')) {
    hex = true;
    ++at;
  } else if (at + 1 < size && chars[at] == '0' && (chars[at + 1] == 'x' || chars[at + 1] == 'X')) {
    hex = true;
    at += 2;
  }
  if (at >= size) return {};
  uint32_t value = 0;
  if (hex) {
    for (; at < size; ++at) {
      int digit = hex_digit_value(chars[at]);
      if (digit < 0 || value > 0x0FFFFFFFu) return {};
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (minus) value = 0u - value;
    return {static_cast<int32_t>(value), true};
  }
  for (; at < size; ++at) {
    if (!is_decimal_digit(chars[at]) || value > 214748364u) return {};
    value = value * 10 + static_cast<uint32_t>(chars[at] - '0');
  }
  if (minus) {
    if (value > 2147483648u) return {};
    return {static_cast<int32_t>(0u - value), true};
  }
  if (value > 2147483647u) return {};
  return {static_cast<int32_t>(value), true};
}

int32_t parse_int(std::string_view text) {
  ScanIntResult result = scan_int(text);
  if (!result.ok) raise_convert_error("'%s' is not a valid integer value", text);
  return result.value;
}

int32_t parse_int_or_default(std::string_view text, int32_t fallback) {
  ScanIntResult result = scan_int(text);
  return result.ok ? result.value : fallback;
}

std::size_t write_hex(char* out, uint64_t value, int digits) {
  if (digits < 0 || digits > 32) digits = 0;
  static constexpr char kHex[] = "0123456789ABCDEF";
  char text[16];
  int count = 0;
  do {
    text[15 - count++] = kHex[value & 15];
    value >>= 4;
  } while (value != 0);
  std::size_t length = 0;
  for (int pad = count; pad < digits; ++pad) out[length++] = '0';
  std::memcpy(out + length, text + 16 - count, static_cast<std::size_t>(count));
  return length + static_cast<std::size_t>(count);
}

std::string int_to_hex(int64_t value, int digits) {
  char text[32];
  return std::string(text, write_hex(text, static_cast<uint64_t>(value), digits));
}
