// UTF-8 for the decoders in the round-trip fuzz targets, written apart from
// the renderers' own so that the two cannot share a mistake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

// The length of the well-formed sequence starting `text` (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), 0 if none.
inline size_t utf8_length(std::string_view text) {
  if (text.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(text[0]);
  if (b0 < 0x80) return 1;
  size_t n;
  uint32_t cp, least;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, cp = b0 & 0x1F, least = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, cp = b0 & 0x0F, least = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, cp = b0 & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

inline bool valid_utf8(std::string_view text) {
  for (size_t i = 0, n; i < text.size(); i += n) {
    if ((n = utf8_length(text.substr(i))) == 0) return false;
  }
  return true;
}

inline void append_utf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
    return;
  }
  const int tail = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
  const uint32_t lead[] = {0, 0xC0, 0xE0, 0xF0};
  *out += static_cast<char>(lead[tail] | (cp >> (6 * tail)));
  for (int i = tail - 1; i >= 0; --i) *out += static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F));
}

}  // namespace fuzz
