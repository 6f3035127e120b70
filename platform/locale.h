// The user's locale items, read the way the Windows locale service delivers
// them.
//
//   char buffer[2];
//   int n = platform::locale_info(platform::thread_locale(), platform::kLocaleSDecimal, buffer, 2);
//   // n == 2 and buffer == ".\0" in an English locale; n == 0 when the item
//   // does not fit (a two-byte decimal separator, say).
#pragma once

#include <cstdint>

namespace platform {

// Item codes (the Windows LOCALE_* values).
constexpr uint32_t kLocaleSDecimal = 0x0E;     // decimal separator
constexpr uint32_t kLocaleSThousand = 0x0F;    // digit grouping separator
constexpr uint32_t kLocaleSCurrency = 0x14;    // currency symbol
constexpr uint32_t kLocaleICurrDigits = 0x19;  // currency decimals, as decimal text
constexpr uint32_t kLocaleICurrency = 0x1B;    // positive currency pattern 0..3, as text
constexpr uint32_t kLocaleINegCurr = 0x1C;     // negative currency pattern 0..15, as text

// The calling thread's locale identifier. On posix the first call sets the
// program's number and currency locale from the environment
// (setlocale(LC_NUMERIC, "") and setlocale(LC_MONETARY, "")); later
// calls leave whatever locale is in force alone, so a test may switch it
// with setlocale and read the items again.
uint32_t thread_locale();

// Writes the item as a zero-ended text into `buffer` of `size` bytes.
// Returns the count of bytes written including the terminating zero, or 0
// on failure: an unknown or unreadable item, or a buffer too small for it.
// With `size` 0 nothing is written and the size needed is returned.
int locale_info(uint32_t locale, uint32_t item, char* buffer, int size);

// True when the items follow the C library's current locale (setlocale),
// false when they come from the system's own per-thread locale.
bool locale_follows_c_library();

}  // namespace platform
