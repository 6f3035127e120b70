#include "platform/locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "number_text/number_settings.h"
#include "number_text/parse.h"
#include "number_text/render.h"

namespace {

TEST(LocaleInfo, WritesTheItemWithItsZeroOrFailsWhenItDoesNotFit) {
  const uint32_t locale = platform::thread_locale();
  const int needed = platform::locale_info(locale, platform::kLocaleSDecimal, nullptr, 0);
  ASSERT_GE(needed, 2);
  char buffer[256];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(platform::locale_info(locale, platform::kLocaleSDecimal, buffer, needed), needed);
  EXPECT_EQ(buffer[needed - 1], '\0');
  EXPECT_EQ(platform::locale_info(locale, platform::kLocaleSDecimal, buffer, needed - 1), 0);
  EXPECT_EQ(platform::locale_info(locale, 0x7FFFFF, buffer, sizeof buffer), 0);
}

TEST(LocaleInfo, ItemsReadThroughTheDefaults) {
  // Whatever the machine's locale, the settings hold one-character
  // separators and currency patterns that read as integers.
  NumberSettings saved = number_settings;
  load_number_settings();
  const uint32_t locale = platform::thread_locale();
  EXPECT_EQ(locale_char(locale, 0x7FFFFF, '#'), '#');
  EXPECT_EQ(locale_text(locale, 0x7FFFFF, "fallback"), "fallback");
  char buffer[2];
  if (platform::locale_info(locale, platform::kLocaleSDecimal, buffer, 2) == 2) {
    EXPECT_EQ(number_settings.decimal_separator, buffer[0]);
  } else {
    EXPECT_EQ(number_settings.decimal_separator, '.');
  }
  number_settings = saved;
}

struct LocaleRow {
  int line;
  const char* name;
  char decimal;
  char thousand;
  const char* currency_text;
  int currency_format;
  int negative_currency_format;
  int currency_decimals;
  const char* number_text;    // 1234567.891 in mode number, 2 decimals
  const char* negative_text;  // -1234.5 in mode currency, 2 decimals
};

// These read the C library's locale, which only the posix backend follows.
TEST(LocaleInfo, LoadsTheSettingsOfNamedLocales) {
  if (!platform::locale_follows_c_library()) GTEST_SKIP() << "items come from the system";
  platform::thread_locale();  // the one-time setup from the environment runs first
  const LocaleRow rows[] = {
      // No grouping in "C": the thousand separator is the NUL character.
      {__LINE__, "C", '.', '\0', "", 0, 0, 0, "1234567.89", "(1234.50)"},
      {__LINE__, "en_US.UTF-8", '.', ',', "$", 0, 1, 2, "1,234,567.89", "-$1,234.50"},
      {__LINE__, "de_DE.UTF-8", ',', '.', "\xE2\x82\xAC", 3, 8, 2, "1.234.567,89",
       "-1.234,50 \xE2\x82\xAC"},
      // The narrow no-break space takes three bytes: the default "," stays.
      {__LINE__, "fr_FR.UTF-8", ',', ',', "\xE2\x82\xAC", 3, 8, 2, "1,234,567,89",
       "-1,234,50 \xE2\x82\xAC"},
  };
  NumberSettings saved = number_settings;
  std::string missing;
  for (const LocaleRow& row : rows) {
    SCOPED_TRACE(row.line);
    if (std::setlocale(LC_ALL, row.name) == nullptr) {
      missing += std::string(" ") + row.name;
      continue;
    }
    load_number_settings();
    EXPECT_EQ(number_settings.decimal_separator, row.decimal);
    EXPECT_EQ(number_settings.thousand_separator, row.thousand);
    EXPECT_EQ(number_settings.currency_text, row.currency_text);
    EXPECT_EQ(number_settings.currency_format, row.currency_format);
    EXPECT_EQ(number_settings.negative_currency_format, row.negative_currency_format);
    EXPECT_EQ(number_settings.currency_decimals, row.currency_decimals);
    EXPECT_EQ(render_float(1234567.891, FloatMode::number, 18, 2), row.number_text);
    EXPECT_EQ(render_float(-1234.5, FloatMode::currency, 18, 2), row.negative_text);
    std::string half = std::string("1") + row.decimal + "5";
    EXPECT_EQ(parse_float(half), 1.5L);
  }
  std::setlocale(LC_ALL, "C");
  number_settings = saved;
  if (!missing.empty()) GTEST_SKIP() << "locales not installed:" << missing;
}

}  // namespace
