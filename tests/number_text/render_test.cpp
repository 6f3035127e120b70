#include "number_text/render.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "float80/float80.h"
#include "tests/number_text/number_text_fixture.h"

namespace {

TEST_F(NumberText, RendersTheSamplerCall) {
  check_render({
      {__LINE__, 1234.5L, F, 15, 5, "1234.50000"},
      {__LINE__, -1234.5L, F, 15, 5, "-1234.50000"},
      {__LINE__, 12.345678, F, 15, 5, "12.34568"},
      {__LINE__, 100, F, 15, 5, "100.00000"},
      {__LINE__, 0.0L, F, 15, 5, "0.00000"},
      {__LINE__, -0.0L, F, 15, 5, "0.00000"},
      {__LINE__, 0.000001, F, 15, 5, "0.00000"},
      {__LINE__, 0.000005, F, 15, 5, "0.00001"},
      {__LINE__, -0.000004, F, 15, 5, "0.00000"},
      {__LINE__, -0.000006, F, 15, 5, "-0.00001"},
      {__LINE__, 123456789012345.67, F, 15, 5, "123456789012346.00000"},
      {__LINE__, 999999999999999.9, F, 15, 5, "1E15"},
      {__LINE__, 1234567890123456.0, F, 15, 5, "1.23456789012346E15"},
      {__LINE__, 1e20, F, 15, 5, "1E20"},
      {__LINE__, 1.7976931348623157e308, F, 15, 5, "1.79769313486232E308"},
      {__LINE__, 4.9406564584124654e-324, F, 15, 5, "0.00000"},
  });
}

TEST_F(NumberText, RoundsOnTheDecimalExpansionHalfUp) {
  check_render({
      {__LINE__, 0.125, F, 15, 2, "0.13"},
      {__LINE__, 1.005, F, 15, 2, "1.00"},
      {__LINE__, 0.15, F, 15, 1, "0.1"},
      {__LINE__, 2.5, F, 15, 0, "3"},
      {__LINE__, -2.5, F, 15, 0, "-3"},
      {__LINE__, 0.4, F, 15, 0, "0"},
      {__LINE__, 0.6, F, 15, 0, "1"},
      {__LINE__, 9.9999, F, 15, 2, "10.00"},
      {__LINE__, 99999.5, F, 5, 2, "1E05"},  // the carry adds a digit beyond precision
      {__LINE__, 0.0095, F, 15, 2, "0.01"},
      // One rounding step: precision and decimals never round twice.
      {__LINE__, 1.23449, F, 5, 3, "1.234"},
      {__LINE__, 0.44999999999, F, 15, 1, "0.4"},
  });
}

TEST_F(NumberText, ClampsPrecisionAndDigits) {
  check_render({
      {__LINE__, 1234.5, G, 1, 0, "1.2E3"},
      {__LINE__, 1234.5, G, -7, 3, "1.2E003"},
      {__LINE__, 1234.5, X, 0, 3, "1.2E+003"},
      {__LINE__, 1.0L / 3, G, 40, 0, "0.333333333333333333"},
      {__LINE__, 1234.5, G, 15, 9, "1234.5"},
      {__LINE__, 1e20, G, 15, 5, "1E20"},  // 5 exponent digits count as 0
      {__LINE__, 1e20, G, 15, -1, "1E20"},
      {__LINE__, 0.5, F, 15, 30, "0.500000000000000000"},  // at most 18 decimals
      {__LINE__, 0.5, F, 15, -3, "1"},
      {__LINE__, 1e18, F, 18, 2, "1E18"},
  });
}

TEST_F(NumberText, RendersNumberMode) {
  check_render({
      {__LINE__, 1234567.891, N, 18, 2, "1,234,567.89"},
      {__LINE__, -1234567.891, N, 18, 2, "-1,234,567.89"},
      {__LINE__, 123456.789, N, 18, 2, "123,456.79"},
      {__LINE__, 123, N, 18, 2, "123.00"},
      {__LINE__, 1234.5, N, 18, 0, "1,235"},
      {__LINE__, 0.5, N, 18, 2, "0.50"},
      {__LINE__, 100000, N, 18, 0, "100,000"},
      {__LINE__, 1e17, N, 18, 0, "100,000,000,000,000,000"},
  });
}

TEST_F(NumberText, RendersGeneralMode) {
  check_render({
      {__LINE__, 1234.5, G, 15, 0, "1234.5"},
      {__LINE__, 100, G, 15, 0, "100"},
      {__LINE__, 0.0001, G, 15, 0, "0.0001"},
      {__LINE__, 0.000123, G, 15, 0, "0.000123"},
      {__LINE__, 0.00001, G, 15, 0, "1E-5"},
      {__LINE__, 1e15, G, 15, 0, "1E15"},
      {__LINE__, 123456789012345.0, G, 15, 0, "123456789012345"},
      {__LINE__, 1.0 / 3, G, 15, 0, "0.333333333333333"},
      {__LINE__, 2.0 / 3, G, 15, 0, "0.666666666666667"},
      {__LINE__, 0, G, 15, 0, "0"},
      {__LINE__, -0.0L, G, 15, 0, "0"},
      {__LINE__, 1e20, G, 15, 3, "1E020"},
      {__LINE__, 1.5e-7, G, 15, 3, "1.5E-007"},
      {__LINE__, -1.5e-7, G, 15, 4, "-1.5E-0007"},
      // The exponent estimate is one too high near these magnitudes; the
      // first digit still is a significant one.
      {__LINE__, 9.95e-265, G, 15, 0, "9.95E-265"},
      {__LINE__, 5e-206, G, 15, 0, "5E-206"},
      {__LINE__, 4.9406564584124654e-324, G, 15, 0, "4.94065645841247E-324"},
      {__LINE__, 2.2250738585072014e-308, G, 17, 0, "2.2250738585072014E-308"},
  });
}

TEST_F(NumberText, RendersExponentMode) {
  check_render({
      {__LINE__, 1234.5, X, 15, 3, "1.23450000000000E+003"},
      {__LINE__, 0, X, 15, 3, "0.00000000000000E+000"},
      {__LINE__, -1234.5, X, 15, 0, "-1.23450000000000E+3"},
      {__LINE__, 1234.5, X, 0, 3, "1.2E+003"},
      {__LINE__, 0.00001, X, 4, 2, "1.000E-05"},
      {__LINE__, 1e300, X, 3, 0, "1.00E+300"},
      {__LINE__, 9.96, X, 2, 0, "1.0E+1"},
  });
}

TEST_F(NumberText, RendersInfinityAndNaNInEveryMode) {
  for (FloatMode mode : {G, X, F, N, C}) {
    SCOPED_TRACE(static_cast<int>(mode));
    EXPECT_EQ(render_float(kInf, mode, 15, 2), "INF");
    EXPECT_EQ(render_float(-kInf, mode, 15, 2), "-INF");
    EXPECT_EQ(render_float(kNaN, mode, 15, 2), "NAN");
    EXPECT_EQ(render_float(-kNaN, mode, 15, 2), "NAN");
  }
  // An unnormal (exponent set, integer bit clear) is no number either.
  EXPECT_EQ(render_float(float80_from_bits(0x4000000000000000ull, 0x3FFF), G, 15, 0), "NAN");
  // Extended subnormals count as zero.
  EXPECT_EQ(render_float(float80_from_bits(1, 0), G, 15, 0), "0");
}

TEST_F(NumberText, RendersEveryCurrencyPattern) {
  struct Row {
    int line;
    int pattern;
    long double amount;
    const char* expected;
  };
  const Row positive[] = {
      {__LINE__, 0, 1234.5, "Cr1,234.50"},  {__LINE__, 1, 1234.5, "1,234.50Cr"},
      {__LINE__, 2, 1234.5, "Cr 1,234.50"}, {__LINE__, 3, 1234.5, "1,234.50 Cr"},
      {__LINE__, 7, 1234.5, "1,234.50 Cr"}, {__LINE__, 0, -0.001, "Cr0.00"},
  };
  for (const Row& row : positive) {
    SCOPED_TRACE(row.line);
    number_settings.currency_format = static_cast<uint8_t>(row.pattern);
    number_settings.negative_currency_format = 1;
    EXPECT_EQ(render_float(row.amount, C, 18, 2), row.expected);
  }
  const Row negative[] = {
      {__LINE__, 0, -1234.5, "(Cr1,234.50)"},   {__LINE__, 1, -1234.5, "-Cr1,234.50"},
      {__LINE__, 2, -1234.5, "Cr-1,234.50"},    {__LINE__, 3, -1234.5, "Cr1,234.50-"},
      {__LINE__, 4, -1234.5, "(1,234.50Cr)"},   {__LINE__, 5, -1234.5, "-1,234.50Cr"},
      {__LINE__, 6, -1234.5, "1,234.50-Cr"},    {__LINE__, 7, -1234.5, "1,234.50Cr-"},
      {__LINE__, 8, -1234.5, "-1,234.50 Cr"},   {__LINE__, 9, -1234.5, "-Cr 1,234.50"},
      {__LINE__, 10, -1234.5, "1,234.50 Cr-"},  {__LINE__, 11, -1234.5, "Cr 1,234.50-"},
      {__LINE__, 12, -1234.5, "Cr -1,234.50"},  {__LINE__, 13, -1234.5, "1,234.50- Cr"},
      {__LINE__, 14, -1234.5, "(Cr 1,234.50)"}, {__LINE__, 15, -1234.5, "(1,234.50 Cr)"},
      {__LINE__, 20, -1234.5, "(1,234.50 Cr)"}, {__LINE__, 255, -1234.5, "(1,234.50 Cr)"},
  };
  for (const Row& row : negative) {
    SCOPED_TRACE(row.line);
    number_settings.currency_format = 3;
    number_settings.negative_currency_format = static_cast<uint8_t>(row.pattern);
    EXPECT_EQ(render_float(row.amount, C, 18, 2), row.expected);
  }
}

TEST_F(NumberText, CurrencyTextOfAnyLengthFitsTheWorkArea) {
  number_settings.currency_text = std::string(255, 'c');
  number_settings.negative_currency_format = 14;
  std::string text = render_float(-999999999999999999.0L, C, 18, 18);
  EXPECT_EQ(text, "(" + std::string(255, 'c') + " 999,999,999,999,999,999.000000000000000000)");
  EXPECT_LE(text.size(), kRenderFloatCapacity);
}

TEST_F(NumberText, WritesTheLocaleSeparators) {
  // Separators nobody uses, so a hard-coded one shows at once.
  number_settings.decimal_separator = '?';
  number_settings.thousand_separator = '~';
  check_render({
      {__LINE__, 123456.789, N, 18, 2, "123~456?79"},
      {__LINE__, 0.5, F, 15, 5, "0?50000"},
      {__LINE__, 1.5e-7, G, 15, 0, "1?5E-7"},
      {__LINE__, 1234.5, G, 15, 0, "1234?5"},
      {__LINE__, 1234.5, X, 3, 0, "1?23E+3"},
  });
  number_settings.thousand_separator = '\0';
  check_render({{__LINE__, 1234567.891, N, 18, 2, "1234567?89"}});
  number_settings.decimal_separator = '\0';
  check_render({{__LINE__, 1234567.891, N, 18, 2, "123456789"}});
}

TEST_F(NumberText, MakesExactDecimalDigits) {
  struct Row {
    int line;
    long double value;
    int precision;
    int decimals;
    int exponent;
    bool negative;
    const char* digits;
  };
  const Row rows[] = {
      {__LINE__, 1234.5, 15, 9999, 4, false, "12345"},
      {__LINE__, -0.000123, 15, 9999, -3, true, "123"},
      {__LINE__, -0.000004, 15, 5, -5, false, ""},
      {__LINE__, 0.000005, 15, 5, -4, false, "1"},
      {__LINE__, 0.001, 15, 1, 0, false, ""},  // rounds to nothing: the count stays
      {__LINE__, 1e-3, 15, -10, 0, false, ""},
      {__LINE__, 0.1L, 18, 9999, 0, false, "1"},
      {__LINE__, 0.1, 18, 9999, 0, false, "100000000000000006"},
      // Exact expansions: the 18th digit may carry the scaling's error, so
      // these rows stop at 17.
      {__LINE__, 9.95e-265, 17, 9999, -264, false, "99500000000000009"},
      {__LINE__, 18446744073709551615.0L, 18, 9999, 20, false, "184467440737095516"},
      {__LINE__, float80_from_bits(~0ull, 0x7FFE), 17, 9999, 4933, false, "11897314953572318"},
      {__LINE__, std::numeric_limits<long double>::min(), 18, 9999, -4931, false,
       "336210314311209351"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    FloatDigits fd = to_decimal_digits(row.value, row.precision, row.decimals);
    EXPECT_EQ(fd.decimal_exponent, row.exponent);
    EXPECT_EQ(fd.negative, row.negative);
    EXPECT_STREQ(fd.digit_string, row.digits);
  }
}

TEST_F(NumberText, DigitCountIsExactAcrossTheExtendedRange) {
  // For every binary exponent the first digit is significant and the
  // decimal exponent places the point: 10^(E-1) <= |v| < 10^E.
  for (int e2 = -16382; e2 <= 16383; e2 += 7) {
    for (uint64_t significand :
         {0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 0xC90FDAA22168C235ull}) {
      long double v = float80_from_bits(significand, static_cast<uint16_t>(e2 + 16383));
      FloatDigits fd = to_decimal_digits(v, 18, 9999);
      SCOPED_TRACE(e2);
      ASSERT_NE(fd.digit_string[0], '\0');
      ASSERT_NE(fd.digit_string[0], '0');
    }
  }
}

}  // namespace
