// The Windows-style locale items built from the C library's localeconv().
//
// Currency patterns. The positive pattern (0..3) comes from p_cs_precedes
// and p_sep_by_space:
//
//   p_cs_precedes  p_sep_by_space  pattern
//   1              0               0  "$1"
//   0              0               1  "1$"
//   1              1 or 2          2  "$ 1"
//   0              1 or 2          3  "1 $"
//
// The negative pattern (0..15) comes from n_cs_precedes, n_sep_by_space and
// n_sign_posn (0 parentheses, 1 sign before all, 2 sign after all, 3 sign
// just before the symbol, 4 sign just after the symbol). Where the sixteen
// Windows patterns have no exact match for a spacing, the nearest one with
// the same order of sign, symbol and amount is taken:
//
//   n_sign_posn  symbol first: sep 0 / 1 / 2     symbol last: sep 0 / 1 / 2
//   0            0 "($1)" / 14 "($ 1)" / 14      4 "(1$)" / 15 "(1 $)" / 15
//   1            1 "-$1"  /  9 "-$ 1"  /  1      5 "-1$"  /  8 "-1 $"  /  5
//   2            3 "$1-"  / 11 "$ 1-"  /  3      7 "1$-"  / 10 "1 $-"  /  7
//   3            1 "-$1"  /  9 "-$ 1"  /  1      6 "1-$"  / 13 "1- $"  / 13
//   4            2 "$-1"  / 12 "$ -1"  / 12      7 "1$-"  / 10 "1 $-"  /  7
//
// Any field at CHAR_MAX (not given by the locale, as in "C") makes the item
// unreadable, so the caller takes its default.
#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/locale.h"

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

bool locale_loaded = false;

int put_text(const char* text, std::size_t length, char* buffer, int size) {
  if (length + 1 > static_cast<std::size_t>(INT_MAX)) return 0;
  int needed = static_cast<int>(length) + 1;
  if (size == 0) return needed;
  if (size < needed || buffer == nullptr) return 0;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return needed;
}

int put_number(int value, char* buffer, int size) {
  char text[16];
  int length = std::snprintf(text, sizeof text, "%d", value);
  return put_text(text, static_cast<std::size_t>(length), buffer, size);
}

int positive_pattern(const std::lconv& lc) {
  if (lc.p_cs_precedes == CHAR_MAX || lc.p_sep_by_space == CHAR_MAX) return -1;
  bool first = lc.p_cs_precedes != 0;
  bool spaced = lc.p_sep_by_space != 0;
  return first ? (spaced ? 2 : 0) : (spaced ? 3 : 1);
}

int negative_pattern(const std::lconv& lc) {
  // [symbol first][sign position][separation]
  static const unsigned char kPatterns[2][5][3] = {
      {{4, 15, 15}, {5, 8, 5}, {7, 10, 7}, {6, 13, 13}, {7, 10, 7}},
      {{0, 14, 14}, {1, 9, 1}, {3, 11, 3}, {1, 9, 1}, {2, 12, 12}},
  };
  int first = static_cast<unsigned char>(lc.n_cs_precedes);
  int sep = static_cast<unsigned char>(lc.n_sep_by_space);
  int posn = static_cast<unsigned char>(lc.n_sign_posn);
  if (first == CHAR_MAX || sep == CHAR_MAX || posn == CHAR_MAX) return -1;
  if (first > 1 || sep > 2 || posn > 4) return -1;
  return kPatterns[first][posn][sep];
}

}  // namespace

uint32_t thread_locale() {
  if (!locale_loaded) {
    locale_loaded = true;
    // localeconv() reads only these two categories; loading the others
    // (character classes, collation, messages) would cost every start of the
    // program a dozen file opens for nothing it uses.
    std::setlocale(LC_NUMERIC, "");
    std::setlocale(LC_MONETARY, "");
  }
  return 0;
}

int locale_info(uint32_t /*locale*/, uint32_t item, char* buffer, int size) {
  if (size < 0) return 0;
  const std::lconv* lc = std::localeconv();
  if (lc == nullptr) return 0;
  switch (item) {
    case kLocaleSDecimal:
      return put_text(lc->decimal_point, std::strlen(lc->decimal_point), buffer, size);
    case kLocaleSThousand:
      // An empty separator (no grouping) reads as the single NUL character.
      return put_text(lc->thousands_sep, std::strlen(lc->thousands_sep), buffer, size);
    case kLocaleSCurrency:
      return put_text(lc->currency_symbol, std::strlen(lc->currency_symbol), buffer, size);
    case kLocaleICurrDigits:
      if (lc->frac_digits == CHAR_MAX) return 0;
      return put_number(lc->frac_digits, buffer, size);
    case kLocaleICurrency: {
      int pattern = positive_pattern(*lc);
      return pattern < 0 ? 0 : put_number(pattern, buffer, size);
    }
    case kLocaleINegCurr: {
      int pattern = negative_pattern(*lc);
      return pattern < 0 ? 0 : put_number(pattern, buffer, size);
    }
    default:
      return 0;
  }
}

bool locale_follows_c_library() { return true; }

}  // namespace platform
