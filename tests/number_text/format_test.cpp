#include "number_text/format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "number_text/number_settings.h"

// Counts the program's heap allocations, to show that an expansion whose
// result fits the scratch buffer allocates nothing but the returned text.
static int allocations = 0;

// Kept out of line: inlined into their callers, the compiler would pair the
// new-expression with free() and warn about a mismatch.
__attribute__((noinline)) void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr double kValue = 1234567.891;

// Number settings fixed by the test itself, never read from the machine.
class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = number_settings;
    number_settings.decimal_separator = '.';
    number_settings.thousand_separator = ',';
    number_settings.currency_text = "$";
    number_settings.currency_format = 0;
    number_settings.negative_currency_format = 1;
    number_settings.currency_decimals = 2;
  }
  void TearDown() override { number_settings = saved_; }

 private:
  NumberSettings saved_;
};

// The message of the conversion error that `call` raises, or "(no failure)".
template <typename Call>
std::string failure_in(Call call) {
  try {
    call();
  } catch (Exception* e) {
    std::string kind = e->kind_name();
    std::string message = e->message();
    delete e;
    if (kind != "EConvertError") return "wrong kind " + kind;
    return message;
  }
  return "(no failure)";
}

// The expansion, or the message of the failure it raised.
std::string expanded(std::string_view format, FormatArgs args) {
  std::string result;
  const std::string failure = failure_in([&] { result = format_value(format, args); });
  return failure == "(no failure)" ? result : "raised: " + failure;
}

std::string failure_of(std::string_view format, FormatArgs args) {
  return failure_in([&] { format_value(format, args); });
}

std::string missing(std::string_view directive) {
  return "No argument for format '" + std::string(directive) + "'";
}
std::string incompatible(std::string_view directive) {
  return "Format '" + std::string(directive) + "' invalid or incompatible with argument";
}

struct FloatRow {
  int line;
  const char* format;
  double value;
  std::string expected;
};

void expect_rows(const std::vector<FloatRow>& rows) {
  for (const FloatRow& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(expanded(row.format, {FormatArg::floating(row.value)}), row.expected);
  }
}

TEST_F(FormatTest, FloatingDirectivesRenderByLetter) {
  expect_rows({
      {__LINE__, "The disk has %f%% free space", 12.5, "The disk has 12.50% free space"},
      {__LINE__, "[%8.3f]", 12.5, "[  12.500]"},
      {__LINE__, "[%-8.3f]", 12.5, "[12.500  ]"},
      {__LINE__, "%e", 12.5, "1.25000000000000E+001"},
      {__LINE__, "%.1f", kValue, "1234567.9"},
      {__LINE__, "%.f", kValue, "1234568"},
      {__LINE__, "%e", kValue, "1.23456789100000E+006"},
      {__LINE__, "%.3e", kValue, "1.23E+006"},
      {__LINE__, "%g", kValue, "1234567.891"},
      {__LINE__, "%.3g", kValue, "1.23E006"},
      {__LINE__, "%g", 0.00001, "1E-005"},
      {__LINE__, "%n", kValue, "1,234,567.89"},
      {__LINE__, "%.0n", kValue, "1,234,568"},
      {__LINE__, "%m", kValue, "$1,234,567.89"},
      {__LINE__, "%.0m", kValue, "$1,234,568"},
      {__LINE__, "%m", -12.5, "-$12.50"},
      {__LINE__, "%0:f and %0:F", 12.5, "12.50 and 12.50"},
      {__LINE__, "%2f", kValue, "1234567.89"},
      {__LINE__, "%8.2f", -3.5, "   -3.50"},
      {__LINE__, "%05.1f", 12.5, " 12.5"},
      {__LINE__, "%F|%0:E|%0:G|%0:N|%0:M|%0:f|%0:e", 12.5,
       "12.50|1.25000000000000E+001|12.5|12.50|$12.50|12.50|1.25000000000000E+001"},
      // A precision above 18 counts as none; %.0e still shows two digits.
      {__LINE__, "%.19f", kValue, "1234567.89"},
      {__LINE__, "%.19e", kValue, "1.23456789100000E+006"},
      {__LINE__, "%.19g", kValue, "1234567.891"},
      {__LINE__, "%.18f", 0.5, "0.500000000000000000"},
      {__LINE__, "%.0e", kValue, "1.2E+006"},
      {__LINE__, "%.1e", kValue, "1.2E+006"},
      // From 10^18 up, F, N and M fall back to the general scientific form.
      {__LINE__, "%f", 1e18, "1E18"},
      {__LINE__, "%n", 1e18, "1E18"},
      {__LINE__, "%.4f", 2.5e18, "2.5E0018"},
  });
}

TEST_F(FormatTest, PercentSignsAndUnfinishedDirectives) {
  expect_rows({
      {__LINE__, "50%", 1.0, "50"},
      {__LINE__, "%", 1.0, ""},
      {__LINE__, "100%%", 1.0, "100%"},
      {__LINE__, "%%%f", 1.0, "%1.00"},
      {__LINE__, "Free: %5", 1.0, "Free: "},
      {__LINE__, "Free: %-", 1.0, "Free: "},
      {__LINE__, "Free: %.2", 1.0, "Free: "},
      {__LINE__, "Free: %.", 1.0, "Free: "},
      {__LINE__, "Free: %0:", 1.0, "Free: "},
      {__LINE__, "Free: %*", 1.0, "Free: "},
      {__LINE__, "Free: %0:-", 1.0, "Free: "},
      {__LINE__, "%5", 1.0, ""},
      {__LINE__, "", 1.0, ""},
  });
  const std::string with_nul("a\0%f\xff", 5);
  EXPECT_EQ(format_value(with_nul, {FormatArg::floating(1.0)}), std::string("a\0"
                                                                            "1.00\xff",
                                                                            7));
}

TEST_F(FormatTest, IndexesStarsAndFlags) {
  expect_rows({
      {__LINE__, "%0:f %0:f", 12.5, "12.50 12.50"},
      {__LINE__, "%f %0:f", 12.5, "12.50 12.50"},
      {__LINE__, "[%*:f]", 12.5, "[12.50]"},
      {__LINE__, "[%:f]", 12.5, "[12.50]"},
      {__LINE__, "[%5:0:f]", 12.5, "[12.50]"},
      {__LINE__, "[%0:-8.2f]", 12.5, "[12.50   ]"},
      {__LINE__, "[%-0:8.2f]", 12.5, "[   12.50]"},
      {__LINE__, "[%-0:-0:8.2f]", 12.5, "[   12.50]"},
      {__LINE__, "[%-0:0:-8.2f]", 12.5, "[12.50   ]"},
      {__LINE__, "[%-0:0:8.2f]", 12.5, "[   12.50]"},
      {__LINE__, "[%3f]", 12.5, "[12.50]"},
  });
  // With integer arguments "*" takes their values as width and precision.
  EXPECT_EQ(format_value("[%*.*f]",
                         {FormatArg::integer(8), FormatArg::integer(3), FormatArg::floating(12.5)}),
            "[  12.500]");
  EXPECT_EQ(format_value("[%*d]", {FormatArg::integer(-4), FormatArg::integer(7)}), "[7]");
  EXPECT_EQ(format_value("[%.*s]", {FormatArg::integer(-1), FormatArg::text("abc")}), "[abc]");
  EXPECT_EQ(format_value("[%*:s]", {FormatArg::integer(1), FormatArg::text("abc")}), "[abc]");
}

TEST_F(FormatTest, ResultLongerThanTheScratchBuffer) {
  const std::string expected = std::string(4995, ' ') + "12.50";
  EXPECT_EQ(format_value("%5000f", {FormatArg::floating(12.5)}), expected);

  // Results around the scratch room of 4095 bytes, from short formats.
  for (std::size_t length : {4093u, 4094u, 4095u, 4096u, 8191u, 8192u, 20000u}) {
    SCOPED_TRACE(length);
    const std::string format = "x%" + std::to_string(length - 1) + "d";
    const std::string result = format_value(format, {FormatArg::integer(7)});
    EXPECT_EQ(result, "x" + std::string(length - 2, ' ') + "7");
  }
  // Many directives whose texts add up past the room.
  std::string format;
  std::string expected_many;
  for (int i = 0; i < 900; ++i) {
    format += "%0:f;";
    expected_many += "12.50;";
  }
  EXPECT_EQ(format_value(format, {FormatArg::floating(12.5)}), expected_many);
}

TEST_F(FormatTest, LongFormatsSkipTheScratchBuffer) {
  for (std::size_t length : {3071u, 3072u, 3073u, 9000u}) {
    SCOPED_TRACE(length);
    std::string format(length - 3, 'a');
    format += "%0s";
    EXPECT_EQ(format_value(format, {FormatArg::text("")}), std::string(length - 3, 'a'));
    // A long format whose result doubles its length needs a second try.
    const std::string twice = std::string(length - 3, 'b') + "%" + std::to_string(length) + "s";
    EXPECT_EQ(format_value(twice, {FormatArg::text("z")}),
              std::string(length - 3, 'b') + std::string(length - 1, ' ') + "z");
  }
}

TEST_F(FormatTest, OnlyTheResultIsAllocated) {
  const FormatArg args[] = {FormatArg::floating(kValue), FormatArg::text("free"),
                            FormatArg::integer(-7)};
  const std::string format = "[%8.3f] %-6s %.3d %0:n %0:m %0:e %0:g " + std::string(3000, '.');
  const int before = allocations;
  const std::string result = format_value(format, {args, 3});
  EXPECT_EQ(allocations - before, 1);
  EXPECT_EQ(result.substr(0, 95),
            "[1234567.891] free   -007 1,234,567.89 $1,234,567.89 1.23456789100000E+006 "
            "1234567.891 ........");
}

struct ArgRow {
  int line;
  const char* format;
  FormatArg arg;
  std::string expected;
};

TEST_F(FormatTest, IntegerTextAndPointerLetters) {
  const std::vector<ArgRow> rows = {
      {__LINE__, "%d", FormatArg::integer(42), "42"},
      {__LINE__, "%D", FormatArg::integer(-42), "-42"},
      {__LINE__, "%.5d", FormatArg::integer(-42), "-00042"},
      {__LINE__, "%.0d", FormatArg::integer(0), "0"},
      {__LINE__, "%.16d", FormatArg::integer(1), "0000000000000001"},
      {__LINE__, "%.17d", FormatArg::integer(1), "1"},
      {__LINE__, "%d", FormatArg::integer(INT32_MIN), "-2147483648"},
      {__LINE__, "%8d|", FormatArg::integer(-42), "     -42|"},
      {__LINE__, "%-8.4d|", FormatArg::integer(42), "0042    |"},
      {__LINE__, "%u", FormatArg::integer(-1), "4294967295"},
      {__LINE__, "%.3U", FormatArg::integer(5), "005"},
      {__LINE__, "%x", FormatArg::integer(-1), "FFFFFFFF"},
      {__LINE__, "%X", FormatArg::integer(0xbeef), "BEEF"},
      {__LINE__, "%.8x", FormatArg::integer(0xbeef), "0000BEEF"},
      {__LINE__, "%x", FormatArg::integer(0), "0"},
      {__LINE__, "%s", FormatArg::text("abc"), "abc"},
      {__LINE__, "%.2s", FormatArg::text("abc"), "ab"},
      {__LINE__, "%.s", FormatArg::text("abc"), ""},
      {__LINE__, "%.9s", FormatArg::text("abc"), "abc"},
      {__LINE__, "[%5S]", FormatArg::text("abc"), "[  abc]"},
      {__LINE__, "[%-5s]", FormatArg::text("abc"), "[abc  ]"},
      {__LINE__, "%s", FormatArg::ztext("ab\0cd"), "ab"},
      {__LINE__, "%s", FormatArg::ztext(nullptr), ""},
      {__LINE__, "%p", FormatArg::pointer(0x1234abcd), "1234ABCD"},
      {__LINE__, "%P", FormatArg::pointer(0), "00000000"},
      {__LINE__, "%.2p", FormatArg::pointer(0xff), "000000FF"},
  };
  for (const ArgRow& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(expanded(row.format, {row.arg}), row.expected);
  }
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(format_value("[%s]", {FormatArg::text(with_nul)}), "[" + with_nul + "]");
}

struct FailureRow {
  int line;
  std::string format;
  std::string expected;
};

TEST_F(FormatTest, FailuresAgainstTheFloatingValue) {
  const std::vector<FailureRow> rows = {
      {__LINE__, "%d", incompatible("%d")},
      {__LINE__, "%f of %f", missing("%f")},
      {__LINE__, "%1:f", missing("%1:f")},
      {__LINE__, "%*f", missing("%*f")},
      {__LINE__, "%.*f", missing("%.*f")},
      {__LINE__, "%0:f %f", missing("%f")},
      {__LINE__, "%5%", incompatible("%5%")},
      {__LINE__, "% f", incompatible("% ")},
      {__LINE__, "%+f", incompatible("%+")},
      {__LINE__, "%lf", incompatible("%l")},
      {__LINE__, "%s", incompatible("%s")},
      {__LINE__, "%5.2d", incompatible("%5.2d")},
      {__LINE__, "%u", incompatible("%u")},
      {__LINE__, "%X", incompatible("%X")},
      {__LINE__, "%p", incompatible("%p")},
      {__LINE__, "%q", incompatible("%q")},
      {__LINE__, "%f %q", missing("%q")},
      {__LINE__, "%-0:-7.3Q", incompatible("%-0:-7.3Q")},
      // A digit run beyond 32 bits is no index, width or precision at all.
      {__LINE__, "%4294967295:f", missing("%4294967295:f")},
      {__LINE__, "%4294967296:f", incompatible("%4294967296:f")},
      {__LINE__, "%99999999999999999999:f", incompatible("%99999999999999999999:f")},
      {__LINE__, "%.99999999999f", incompatible("%.99999999999f")},
      {__LINE__, "%1234567890123456789012345678901234567890f",
       incompatible("%123456789012345678901234567890")},
      // Cut to its first 31 bytes.
      {__LINE__, "%0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:8.2d",
       incompatible("%0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:")},
      {__LINE__, "%" + std::string(29, '0') + "d", incompatible("%" + std::string(29, '0') + "d")},
      {__LINE__, "%" + std::string(30, '0') + "d", incompatible("%" + std::string(30, '0'))},
      {__LINE__, "%" + std::string(30, '0') + "f %d", missing("%d")},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(failure_of(row.format, {FormatArg::floating(12.5)}), row.expected);
  }
}

TEST_F(FormatTest, FailuresAgainstOtherKinds) {
  const std::vector<ArgRow> rows = {
      {__LINE__, "%f", FormatArg::integer(1), incompatible("%f")},
      {__LINE__, "%s", FormatArg::integer(1), incompatible("%s")},
      {__LINE__, "%d", FormatArg::text("1"), incompatible("%d")},
      {__LINE__, "%p", FormatArg::text("1"), incompatible("%p")},
      {__LINE__, "%x", FormatArg::pointer(1), incompatible("%x")},
      {__LINE__, "%g", FormatArg::pointer(1), incompatible("%g")},
      {__LINE__, "%d %d", FormatArg::integer(1), missing("%d")},
  };
  for (const ArgRow& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(failure_of(row.format, {row.arg}), row.expected);
  }
  EXPECT_EQ(failure_of("%f", FormatArgs()), missing("%f"));
}

// The name is cut before the lead-byte test, and only a lead byte at the end
// of what is kept goes.
TEST(DirectiveForMessage, DropsATrailingLeadByte) {
  const auto lead = [](unsigned char b) { return b >= 0x81 && b <= 0x9F; };
  const auto never = [](unsigned char) { return false; };
  struct Row {
    int line;
    std::string directive;
    bool (*opens)(unsigned char);
    std::string expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, "%5\x82", lead, "%5"},
      {__LINE__, "%5\x82", never, "%5\x82"},
      {__LINE__, "%5\xA0", lead, "%5\xA0"},
      {__LINE__, "%" + std::string(29, '1') + "\x82", lead, "%" + std::string(29, '1')},
      {__LINE__, "%" + std::string(30, '1') + "\x82", lead, "%" + std::string(30, '1')},
      {__LINE__, "%" + std::string(40, '1') + "d", lead, "%" + std::string(30, '1')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(directive_for_message(row.directive, row.opens), row.expected);
  }
}

TEST_F(FormatTest, SeparatorsComeFromTheNumberSettings) {
  number_settings.decimal_separator = '?';
  number_settings.thousand_separator = '~';
  number_settings.currency_text = "Cr";
  number_settings.currency_format = 3;
  number_settings.currency_decimals = 1;
  expect_rows({
      {__LINE__, "%f", 12.5, "12?50"},
      {__LINE__, "%n", kValue, "1~234~567?89"},
      {__LINE__, "%m", kValue, "1~234~567?9 Cr"},
      {__LINE__, "%.3m", kValue, "1~234~567?891 Cr"},
      {__LINE__, "%e", 12.5, "1?25000000000000E+001"},
      {__LINE__, "%g", 0.25, "0?25"},
  });
}

TEST_F(FormatTest, FormatIntoBufferCutsAtCapacity) {
  const FormatArg value = FormatArg::floating(12.5);  // "[  12.500]" has 10 bytes
  struct Row {
    int line;
    std::size_t capacity;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {__LINE__, 0, ""},
      {__LINE__, 1, "["},
      {__LINE__, 3, "[  "},
      {__LINE__, 4, "[  1"},
      {__LINE__, 9, "[  12.500"},
      {__LINE__, 10, "[  12.500]"},
      {__LINE__, 11, "[  12.500]"},
      {__LINE__, 64, "[  12.500]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<char> buffer(row.capacity + 2, '#');
    EXPECT_EQ(format_into_buffer(buffer.data(), row.capacity, "[%8.3f]", {&value, 1}),
              buffer.data());
    EXPECT_EQ(std::string(buffer.data()), row.expected);
    EXPECT_EQ(buffer[row.capacity + 1], '#');  // nothing past the zero byte's slot
  }
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(format_into_buffer(nullptr, 4, "%f", {&value, 1}), nullptr);
  EXPECT_EQ(format_into_buffer(buffer, 4, nullptr, {&value, 1}), nullptr);
  EXPECT_STREQ(buffer, "xxxxxxx");
  // A directive past the cut is still read, and still fails.
  EXPECT_EQ(failure_in([&] {
              format_into_buffer(buffer, 2, "abcdef%d", {&value, 1});
            }),
            incompatible("%d"));
  EXPECT_EQ(failure_in([&] { format_into_buffer(buffer, 2, "%f%f", {&value, 1}); }), missing("%f"));
}

}  // namespace
