// The threshold-range parser on arbitrary text, against a reading of the
// same grammar written here: both accept the same texts and find the same
// endpoints. An accepted range, written back with the shortest decimal
// endpoints, parses to the same range, and alerts exactly outside (or,
// with '@', inside) its endpoints.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "plugin/range.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// [+-] digits with at most one '.', at least one digit; a magnitude a
// double holds: not infinite (one too small for a double reads as 0).
bool endpoint(std::string_view text, double* out) {
  std::string_view body = text;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
  bool digit = false;
  int points = 0;
  for (char c : body) {
    if (c == '.') {
      ++points;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      return false;
    }
  }
  if (!digit || points > 1) return false;
  // strtod reads the same digits; it needs a terminated copy.
  const std::string copy(text);
  char* end = nullptr;
  const double v = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || std::isinf(v)) return false;
  *out = v;
  return true;
}

bool reference(std::string_view text, plugin::Range* r) {
  *r = plugin::Range{};
  if (!text.empty() && text[0] == '@') {
    r->inside = true;
    text.remove_prefix(1);
  }
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    if (!endpoint(text, &r->end)) return false;
  } else {
    const std::string_view left = text.substr(0, colon), right = text.substr(colon + 1);
    if (left == "~")
      r->start = -kInf;
    else if (!left.empty() && !endpoint(left, &r->start))
      return false;
    if (right.empty())
      r->end = kInf;
    else if (!endpoint(right, &r->end))
      return false;
  }
  return r->start <= r->end;
}

// The same double, telling 0 from -0 (an endpoint "-0" is -0).
bool same(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

bool same(const plugin::Range& a, const plugin::Range& b) {
  return same(a.start, b.start) && same(a.end, b.end) && a.inside == b.inside;
}

void append_endpoint(std::string* out, double v) {
  char buffer[400];  // a fixed-notation double has at most 309 integer digits
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed);
  if (ec != std::errc()) abort();
  out->append(buffer, end);
}

std::string written(const plugin::Range& r) {
  std::string text = r.inside ? "@" : "";
  if (r.start == -kInf)
    text += "~";
  else
    append_endpoint(&text, r.start);
  text += ':';
  if (r.end != kInf) append_endpoint(&text, r.end);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  plugin::Range r, expected;
  std::string why;
  const bool parsed = plugin::parse_range(text, &r, &why);
  if (parsed != reference(text, &expected)) abort();
  if (!parsed) {
    if (why.empty()) abort();
    return 0;
  }
  if (!same(r, expected)) abort();
  if (std::isnan(r.start) || std::isnan(r.end) || r.end == -kInf || r.start == kInf) abort();

  plugin::Range back;
  if (!plugin::parse_range(written(r), &back, &why) || !same(back, r)) abort();

  // Each endpoint is inside; the doubles next to them are outside.
  const double probes[] = {r.start, r.end, std::nextafter(r.start, -kInf),
                           std::nextafter(r.end, kInf), r.start / 2 + r.end / 2};
  for (double v : probes) {
    const bool within = r.start <= v && v <= r.end;
    if (plugin::range_alerts(r, v) != (within == r.inside)) abort();
  }
  if (plugin::range_alerts(r, std::nan("")) == r.inside) abort();
  return 0;
}
