#include "plugin/machine_text.h"

#include <charconv>

namespace plugin {

size_t utf8_sequence_length(std::string_view text) {
  if (text.empty()) return 0;
  const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || b(1) < low || b(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  return length;
}

void append_shortest_number(std::string* out, double value) {
  char buffer[32];  // the longest shortest form, "-2.2250738585072014e-308", is 24
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out->append(buffer, result.ptr);
}

}  // namespace plugin
