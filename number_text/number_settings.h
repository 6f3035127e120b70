// The locale's number settings: separators and currency layout, loaded once
// at start-up by load_number_settings (a start step the programs hand to
// program_main), read-only afterwards. Until then they hold the defaults
// below ("." and ",", no currency text).
//
//   load_number_settings();   // LC_ALL=de_DE.UTF-8
//   // number_settings.decimal_separator == ',', thousand_separator == '.'
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct NumberSettings {
  std::string currency_text;             // currency symbol; empty when unreadable
  uint8_t currency_format = 0;           // 0..3 (higher counts as 3)
  uint8_t negative_currency_format = 0;  // 0..15 (higher counts as 15)
  char thousand_separator = ',';         // NUL: no grouping character is written
  char decimal_separator = '.';          // NUL: no separator is written
  uint8_t currency_decimals = 0;
};

extern NumberSettings number_settings;

// Fills `number_settings` from the user's locale; never fails (an item the
// platform cannot deliver keeps its fallback: "", 0, ',' or '.').
void load_number_settings();

// Locale items as the platform delivers them (see platform/locale.h), or
// `fallback` when it cannot.
std::string locale_text(uint32_t locale, uint32_t item, std::string_view fallback);
char locale_char(uint32_t locale, uint32_t item, char fallback);
