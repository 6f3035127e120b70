#include "number_text/number_settings.h"

#include "number_text/integers.h"
#include "platform/locale.h"

NumberSettings number_settings;

std::string locale_text(uint32_t locale, uint32_t item, std::string_view fallback) {
  char buffer[256];
  int written = platform::locale_info(locale, item, buffer, sizeof buffer);
  if (written <= 0 || written > static_cast<int>(sizeof buffer)) return std::string(fallback);
  return std::string(buffer, static_cast<std::size_t>(written - 1));
}

char locale_char(uint32_t locale, uint32_t item, char fallback) {
  char buffer[2];
  int written = platform::locale_info(locale, item, buffer, sizeof buffer);
  return written > 0 ? buffer[0] : fallback;
}

void load_number_settings() {
  const uint32_t locale = platform::thread_locale();
  auto integer_item = [locale](uint32_t item) {
    return static_cast<uint8_t>(parse_int_or_default(locale_text(locale, item, "0"), 0) & 0xFF);
  };
  number_settings.currency_text = locale_text(locale, platform::kLocaleSCurrency, "");
  number_settings.currency_format = integer_item(platform::kLocaleICurrency);
  number_settings.negative_currency_format = integer_item(platform::kLocaleINegCurr);
  number_settings.thousand_separator = locale_char(locale, platform::kLocaleSThousand, ',');
  number_settings.decimal_separator = locale_char(locale, platform::kLocaleSDecimal, '.');
  number_settings.currency_decimals = integer_item(platform::kLocaleICurrDigits);
}
