#include "plugin/range.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace plugin {

namespace {

bool parse_endpoint(std::string_view text, double* out, std::string* why) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  // from_chars alone would also take exponents, "inf" and "nan".
  bool any_digit = false;
  int points = 0;
  for (char c : digits) {
    if (c >= '0' && c <= '9') {
      any_digit = true;
    } else if (c == '.') {
      ++points;
    } else {
      any_digit = false;
      break;
    }
  }
  if (!any_digit || points > 1) {
    *why = "'" + std::string(text) + "' is not a decimal number";
    return false;
  }
  double v = 0.0;
  auto [end, ec] =
      std::from_chars(digits.data(), digits.data() + digits.size(), v, std::chars_format::fixed);
  // The library refuses a number that rounds to zero as out of range, as it
  // does one too large; the nearest double of a tiny number is zero.
  const std::string_view whole = digits.substr(0, digits.find('.'));
  if (ec == std::errc::result_out_of_range && whole.find_first_not_of('0') == whole.npos) {
    v = 0.0;
    ec = std::errc();
    end = digits.data() + digits.size();
  }
  if (ec == std::errc::result_out_of_range || std::isinf(v)) {
    *why = "'" + std::string(text) + "' is out of range";
    return false;
  }
  if (ec != std::errc() || end != digits.data() + digits.size()) {
    *why = "'" + std::string(text) + "' is not a decimal number";
    return false;
  }
  *out = negative ? -v : v;
  return true;
}

}  // namespace

bool parse_range(std::string_view text, Range* range, std::string* why) {
  Range r;
  if (!text.empty() && text[0] == '@') {
    r.inside = true;
    text.remove_prefix(1);
  }
  if (text.empty()) {
    *why = "empty range";
    return false;
  }
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    if (!parse_endpoint(text, &r.end, why)) return false;
  } else {
    std::string_view left = text.substr(0, colon);
    std::string_view right = text.substr(colon + 1);
    if (left == "~") {
      r.start = -std::numeric_limits<double>::infinity();
    } else if (!left.empty() && !parse_endpoint(left, &r.start, why)) {
      return false;
    }
    if (right.empty()) {
      r.end = std::numeric_limits<double>::infinity();
    } else if (!parse_endpoint(right, &r.end, why)) {
      return false;
    }
  }
  if (r.start > r.end) {
    *why = "start is greater than end";
    return false;
  }
  *range = r;
  return true;
}

bool range_alerts(const Range& range, double value) {
  const bool within = value >= range.start && value <= range.end;
  return range.inside ? within : !within;
}

}  // namespace plugin
