#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
}  // namespace

std::vector<std::string_view> split_ws(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_space(s[i])) ++i;
    size_t j = i;
    while (j < s.size() && !is_space(s[j])) ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

std::vector<std::string_view> split_lines(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = s.find('\n', i);
    if (j == std::string_view::npos) j = s.size();
    out.push_back(s.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  return s;
}

bool parse_u64(std::string_view s, uint64_t& out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

bool parse_i64(std::string_view s, int64_t& out) {
  bool neg = !s.empty() && s.front() == '-';
  if (neg) s.remove_prefix(1);
  uint64_t m = 0;
  if (!parse_u64(s, m)) return false;
  if (neg) {
    if (m > 0x8000000000000000ull) return false;
    out = m == 0x8000000000000000ull ? INT64_MIN : -static_cast<int64_t>(m);
  } else {
    if (m > static_cast<uint64_t>(INT64_MAX)) return false;
    out = static_cast<int64_t>(m);
  }
  return true;
}

bool parse_u32(std::string_view s, uint32_t& out) {
  uint64_t v = 0;
  if (!parse_u64(s, v) || v > UINT32_MAX) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

std::string unescape_octal(std::string_view s) {
  auto oct = [](char c) { return c >= '0' && c <= '7'; };
  std::string r;
  r.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && oct(s[i + 1]) && oct(s[i + 2]) && oct(s[i + 3])) {
      int v = (s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0');
      if (v < 256) {
        r.push_back(static_cast<char>(v));
        i += 3;
        continue;
      }
    }
    r.push_back(s[i]);
  }
  return r;
}

bool field_value(std::string_view text, std::string_view key, uint64_t& out) {
  for (std::string_view line : split_lines(text)) {
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') {
      continue;
    }
    std::vector<std::string_view> tok = split_ws(line.substr(key.size() + 1));
    return !tok.empty() && parse_u64(tok[0], out);
  }
  return false;
}

}  // namespace perfdata::linux_backend
