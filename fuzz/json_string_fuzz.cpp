// The JSON renderer's strings on arbitrary bytes, read back by a strict
// decoder written here: the document is exactly {"objects":[...]} and a
// newline, every string is well-formed JSON (no raw control character, no
// raw DEL, valid UTF-8 between the escapes), and decodes to the bytes that
// went in, a byte outside well-formed UTF-8 coming back from its lone low
// surrogate \udcXX.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/utf8.h"
#include "plugin/render_json.h"

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hex digits after "\u" at `*i`; moves past them.
bool read_u(std::string_view t, size_t* i, uint32_t* unit) {
  if (t.substr(*i, 2) != "\\u" || t.size() < *i + 6) return false;
  *unit = 0;
  for (size_t k = *i + 2; k < *i + 6; ++k) {
    const int d = hex_digit(t[k]);
    if (d < 0) return false;
    *unit = *unit << 4 | static_cast<uint32_t>(d);
  }
  *i += 6;
  return true;
}

// One JSON string at `*i` (its opening quote) into `out`; false when the
// text is not a well-formed string of this renderer.
bool read_string(std::string_view t, size_t* i, std::string* out) {
  if (*i >= t.size() || t[*i] != '"') return false;
  ++*i;
  while (*i < t.size()) {
    const auto c = static_cast<unsigned char>(t[*i]);
    if (c == '"') {
      ++*i;
      return true;
    }
    if (c < 0x20 || c == 0x7F) return false;
    if (c != '\\') {
      const size_t n = fuzz::utf8_length(t.substr(*i));
      if (n == 0) return false;
      out->append(t.substr(*i, n));
      *i += n;
      continue;
    }
    if (*i + 1 >= t.size()) return false;
    const char e = t[*i + 1];
    const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
    if (simple.find(e) != std::string_view::npos) {
      *out += meaning[simple.find(e)];
      *i += 2;
      continue;
    }
    uint32_t unit = 0;
    if (!read_u(t, i, &unit)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      uint32_t low = 0;
      if (!read_u(t, i, &low) || low < 0xDC00 || low > 0xDFFF) return false;
      fuzz::append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      // A lone low surrogate carries a byte that was not UTF-8; bytes
      // below 0x80 always are, so DC00-DC7F never appears alone.
      if (unit < 0xDC80) return false;
      *out += static_cast<char>(unit - 0xDC00);
    } else {
      fuzz::append_utf8(out, unit);
    }
  }
  return false;
}

bool read_list(std::string_view t, std::vector<std::string>* items) {
  const std::string_view head = "{\"objects\":[", tail = "]}\n";
  if (t.substr(0, head.size()) != head) return false;
  size_t i = head.size();
  while (i < t.size() && t[i] != ']') {
    if (!items->empty() && t[i++] != ',') return false;
    items->emplace_back();
    if (!read_string(t, &i, &items->back())) return false;
  }
  return t.substr(i) == tail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Two strings, so the separator is crossed too; the cut may split a
  // multi-byte sequence.
  const std::vector<std::string> objects = {text.substr(0, size / 2), text.substr(size / 2)};
  const std::string json = plugin::render_json_list(objects);
  std::vector<std::string> back;
  if (!read_list(json, &back) || back != objects) abort();
  return 0;
}
