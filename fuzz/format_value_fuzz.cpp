// Arbitrary format bytes against the -f line's one floating value and against
// a list of every kind. Each call returns, or raises EConvertError with one of
// the two directive messages; format_into_buffer keeps a prefix of the same
// expansion and fails alike.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "failure/failure.h"
#include "number_text/format.h"
#include "number_text/number_settings.h"

namespace {

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "format_value_fuzz: %s\n", what);
  std::abort();
}

bool has_shape(const std::string& message, std::string_view head, std::string_view tail) {
  if (message.size() < head.size() + tail.size() + 1) return false;
  if (message.compare(0, head.size(), head) != 0) return false;
  if (message.compare(message.size() - tail.size(), tail.size(), tail) != 0) return false;
  std::string_view name(message.data() + head.size(), message.size() - head.size() - tail.size());
  return name.size() <= 31 && name[0] == '%';
}

struct Outcome {
  bool failed = false;
  std::string text;  // the result, or the failure's message
};

template <typename Call>
Outcome run(Call call) {
  Outcome outcome;
  try {
    outcome.text = call();
  } catch (Exception* e) {
    if (std::strcmp(e->kind_name(), "EConvertError") != 0) finding("a failure of another kind");
    outcome.failed = true;
    outcome.text = e->message();
    delete e;
    if (!has_shape(outcome.text, "No argument for format '", "'") &&
        !has_shape(outcome.text, "Format '", "' invalid or incompatible with argument")) {
      finding("a message of another shape");
    }
  }
  return outcome;
}

// A format whose digit runs ask for tens of megabytes is sound but only
// measures memory bandwidth; keep the total asked width bounded.
bool widths_reasonable(std::string_view format) {
  uint64_t sum = 0;
  uint64_t run = 0;
  for (char c : format) {
    if (c >= '0' && c <= '9') {
      run = run * 10 + static_cast<uint64_t>(c - '0');
      if (run > 10'000'000) return false;
    } else {
      sum += run;
      run = 0;
    }
  }
  return sum + run <= 10'000'000;
}

void check(std::string_view format, FormatArgs args) {
  const Outcome whole = run([&] { return format_value(format, args); });

  // format_into_buffer reads a zero-ended format: the part before any NUL.
  const std::string zformat(format.substr(0, format.find('\0')));
  const Outcome whole_z =
      zformat.size() == format.size() ? whole : run([&] { return format_value(zformat, args); });
  for (std::size_t capacity : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{200}}) {
    std::vector<char> buffer(capacity + 2, '#');
    const Outcome cut = run([&] {
      char* r = format_into_buffer(buffer.data(), capacity, zformat.c_str(), args);
      if (r != buffer.data()) finding("format_into_buffer returned another pointer");
      return std::string(buffer.data(), std::strlen(buffer.data()));
    });
    if (cut.failed != whole_z.failed) finding("format_into_buffer and format_value disagree");
    if (cut.failed) {
      if (cut.text != whole_z.text) finding("different failure messages");
      continue;
    }
    if (buffer[capacity + 1] != '#') finding("format_into_buffer wrote past capacity + 1");
    const std::size_t expect = std::min(capacity, whole_z.text.size());
    // The result itself may hold NUL bytes (from the format); compare bytes.
    if (std::memcmp(buffer.data(), whole_z.text.data(), expect) != 0 || buffer[expect] != '\0') {
      finding("format_into_buffer is not a prefix of format_value");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!widths_reasonable(input.substr(1))) return -1;
  // The first byte picks the value and the number settings; the rest is the
  // format.
  const bool odd_settings = (data[0] & 0x80) != 0;
  number_settings.decimal_separator = odd_settings ? '\0' : '?';
  number_settings.thousand_separator = odd_settings ? '\0' : '~';
  number_settings.currency_text = odd_settings ? std::string(19, 'C') : "Cr";
  number_settings.currency_format = odd_settings ? 200 : 2;
  number_settings.negative_currency_format = odd_settings ? 200 : 14;
  number_settings.currency_decimals = odd_settings ? 255 : 3;
  static constexpr long double kValues[] = {
      12.5L, -3.5L, 0.0L, 1234567.891L, 1e18L, -1e-300L, __builtin_infl(), __builtin_nanl("")};
  const long double value = kValues[data[0] % (sizeof kValues / sizeof kValues[0])];
  const std::string_view format = input.substr(1);

  const FormatArg floating[] = {FormatArg::floating(value)};
  check(format, {floating, 1});

  static const char kText[] = "text\xe9\0after";
  const FormatArg mixed[] = {
      FormatArg::integer(-42),
      FormatArg::floating(value),
      FormatArg::text(std::string_view(kText, sizeof kText - 1)),
      FormatArg::pointer(0xDEADBEEF),
      FormatArg::integer(7),
      FormatArg::ztext("zero-ended"),
      FormatArg::integer(INT32_MIN),
  };
  check(format, {mixed, sizeof mixed / sizeof mixed[0]});
  return 0;
}
