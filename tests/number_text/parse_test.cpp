#include "number_text/parse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "float80/float80.h"
#include "number_text/power_scale.h"
#include "tests/number_text/number_text_fixture.h"

namespace {

struct ParseRow {
  int line;
  const char* text;
  long double expected;
};

TEST_F(NumberText, ParsesFloats) {
  const ParseRow rows[] = {
      {__LINE__, "12.5", 12.5L},
      {__LINE__, "   12.5  ", 12.5L},
      {__LINE__, "+.5", 0.5L},
      {__LINE__, "5.", 5},
      {__LINE__, ".", 0},
      {__LINE__, "1E3", 1000},
      {__LINE__, "1e-3", 1.0L / 1000},
      {__LINE__, "1E", 1},
      {__LINE__, "1E+", 1},
      {__LINE__, "-12.50000", -12.5L},
      {__LINE__, "1.23456789012346E17", 123456789012346000.0L},
      {__LINE__, "1E1000", scale_by_power_of_ten(1, 1000)},
      {__LINE__, "9223372036854775807", 9223372036854775807.0L},
      {__LINE__, "1E-4999", 0},  // underflows quietly
      {__LINE__, "0.1", 1.0L / 10},
      {__LINE__, "00000000000000000000000000000000000000001", 1},
  };
  for (const ParseRow& row : rows) {
    SCOPED_TRACE(row.line);
    // Compared in the extended format: a wider long double holds the
    // expected quotients with more bits than the parse gives.
    const Float80Bits parsed = float80_bits(parse_float(row.text));
    const Float80Bits expected = float80_bits(row.expected);
    EXPECT_EQ(parsed.significand, expected.significand);
    EXPECT_EQ(parsed.sign_exponent, expected.sign_exponent);
  }
  EXPECT_TRUE(std::signbit(parse_float("-0")));
  EXPECT_TRUE(std::signbit(parse_float("-1E-4999")));
}

TEST_F(NumberText, RejectsNonFloats) {
  const std::string rows[] = {
      "",
      "   ",
      "-",
      "+",
      "E5",
      "1,5",
      "1.5.2",
      "1 000",
      "INF",
      "NAN",
      "0x10",
      "\t1",
      "1E+-5",
      "1E5000",
      "1E4999",
      "1..",
      "- 1",
      "1e5x",
      std::string("1\0", 2),
      "\xff",
      std::string(5000, '9'),
  };
  for (const std::string& text : rows) {
    SCOPED_TRACE(text);
    expect_convert_error([&] { parse_float(text); },
                         "'" + text + "' is not a valid floating point value");
  }
}

TEST_F(NumberText, ParsesWithTheLocaleDecimalSeparatorOnly) {
  number_settings.decimal_separator = ',';
  EXPECT_EQ(parse_float("1,5"), 1.5L);
  expect_convert_error([] { parse_float("1.5"); }, "'1.5' is not a valid floating point value");
  number_settings.decimal_separator = '?';
  EXPECT_EQ(parse_float("-2?25E1"), -22.5L);
}

TEST_F(NumberText, SamplerTextParsesBackToTheSameText) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 100000; ++i) {
    uint64_t bits = random();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    std::string text = render_float(x, F, 15, 5);
    long double back;
    try {
      back = parse_float(text);
    } catch (Exception* failure) {
      ADD_FAILURE() << text << ": " << failure->message();
      delete failure;
      continue;
    }
    ASSERT_EQ(render_float(back, F, 15, 5), text) << "value bits " << std::hex << bits;
  }
}

}  // namespace
