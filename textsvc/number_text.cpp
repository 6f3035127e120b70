#include "textsvc/number_text.h"

#include <algorithm>
#include <array>
#include <utility>
#include <cstring>

#include "platform/locale.h"
#include "textsvc/failure.h"
#include "textsvc/float80.h"

#include "textsvc/power_tables.inc"

NumberSettings number_settings;

namespace {

constexpr int16_t kExponentInfinity = 32767;
constexpr int16_t kExponentNaN = -32768;
// scale_by_power_of_ten saturates from here on (the tables reach 10^5119).
constexpr int kScaleLimit = 5120;
// Longest currency text written; keeps the work area bounded whatever the
// locale delivers (the locale reader itself stops at 255).
constexpr std::size_t kMaxCurrencyText = 256;

// The power tables in the working format; where that is the hardware's
// own, the compiler takes them as they are.
template <std::size_t N, std::size_t... I>
constexpr std::array<Float80, N> working_table(const long double (&table)[N],
                                               std::index_sequence<I...>) {
  return {{to_float80(table[I])...}};
}
template <std::size_t N>
constexpr std::array<Float80, N> working_table(const long double (&table)[N]) {
  return working_table(table, std::make_index_sequence<N>());
}
const std::array<Float80, 32> kT1 = working_table(kPowersT1);
const std::array<Float80, 16> kT2 = working_table(kPowersT2);
const std::array<Float80, 10> kT3 = working_table(kPowersT3);

// Rounds a non-negative value to an integer, ties to even: below 2^63 the
// addition of 2^63 leaves no fraction bits, above it there are none.
inline Float80 round_integer(Float80 s) {
  const Float80 k2p63 = Float80(0x8000000000000000ull);
  if (s < k2p63) s = (s + k2p63) - k2p63;
  return s;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes `value` (below 10^9) as exactly nine digits.
inline void write_nine_digits(char* out, uint32_t value) {
  out[8] = static_cast<char>('0' + value % 10);
  value /= 10;
  for (int i = 6; i >= 0; i -= 2) {
    std::memcpy(out + i, kDigitPairs + 2 * (value % 100), 2);
    value /= 100;
  }
}

constexpr char kCurrencyPatterns[20][5] = {
    {'$', '*', '@', '@', '@'}, {'*', '$', '@', '@', '@'}, {'$', ' ', '*', '@', '@'},
    {'*', ' ', '$', '@', '@'}, {'(', '$', '*', ')', '@'}, {'-', '$', '*', '@', '@'},
    {'$', '-', '*', '@', '@'}, {'$', '*', '-', '@', '@'}, {'(', '*', '$', ')', '@'},
    {'-', '*', '$', '@', '@'}, {'*', '-', '$', '@', '@'}, {'*', '$', '-', '@', '@'},
    {'-', '*', ' ', '$', '@'}, {'-', '$', ' ', '*', '@'}, {'*', ' ', '$', '-', '@'},
    {'$', ' ', '*', '-', '@'}, {'$', ' ', '-', '*', '@'}, {'*', '-', ' ', '$', '@'},
    {'(', '$', ' ', '*', ')'}, {'(', '*', ' ', '$', ')'},
};

// Hands out the significant digits one after the other, then '0' for ever.
struct DigitSource {
  const char* next_digit;
  char next() { return *next_digit != '\0' ? *next_digit++ : '0'; }
  bool remaining() const { return *next_digit != '\0'; }
};

class TextWriter {
 public:
  explicit TextWriter(char* out) : start_(out), at_(out) {}
  void put(char c) { *at_++ = c; }
  // A separator that is the NUL character stands for "none".
  void put_separator(char c) {
    if (c != '\0') *at_++ = c;
  }
  void put(const char* text, std::size_t length) {
    std::memcpy(at_, text, length);
    at_ += length;
  }
  // The next `count` digits of `digits` (advanced), '0' once they run out.
  // (Plain loops: these runs are at most 18 bytes, shorter than a call.)
  void put_digits(const char*& digits, const char* end, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) *at_++ = digits < end ? *digits++ : '0';
  }
  std::size_t length() const { return static_cast<std::size_t>(at_ - start_); }

 private:
  char* start_;
  char* at_;
};

void write_exponent(TextWriter& writer, const FloatDigits& fd, int exponent, bool plus, int least) {
  writer.put('E');
  if (fd.digit_string[0] == '\0') {
    exponent = 0;
    if (plus) writer.put('+');
  } else if (exponent < 0) {
    writer.put('-');
    exponent = -exponent;
  } else if (plus) {
    writer.put('+');
  }
  if (least < 0 || least > 4) least = 0;
  char text[8];
  int count = 0;
  do {
    text[count++] = static_cast<char>('0' + exponent % 10);
    exponent /= 10;
  } while (exponent != 0);
  for (int i = count; i < least; ++i) writer.put('0');
  while (count > 0) writer.put(text[--count]);
}

void layout_general(TextWriter& writer, const FloatDigits& fd, int precision, int least) {
  int exponent = fd.decimal_exponent;
  char sep = number_settings.decimal_separator;
  DigitSource digits{fd.digit_string};
  if (fd.negative) writer.put('-');
  if (exponent > precision || exponent < -3) {
    writer.put(digits.next());
    if (digits.remaining()) {
      writer.put_separator(sep);
      while (digits.remaining()) writer.put(digits.next());
    }
    write_exponent(writer, fd, exponent - 1, false, least);
  } else if (exponent > 0) {
    for (int i = 0; i < exponent; ++i) writer.put(digits.next());
    if (digits.remaining()) {
      writer.put_separator(sep);
      while (digits.remaining()) writer.put(digits.next());
    }
  } else {
    writer.put('0');
    if (!digits.remaining()) return;
    writer.put_separator(sep);
    for (int i = 0; i < -exponent; ++i) writer.put('0');
    while (digits.remaining()) writer.put(digits.next());
  }
}

void layout_exponent(TextWriter& writer, const FloatDigits& fd, int precision, int least) {
  DigitSource digits{fd.digit_string};
  if (fd.negative) writer.put('-');
  writer.put(digits.next());
  writer.put_separator(number_settings.decimal_separator);
  for (int i = 1; i < precision; ++i) writer.put(digits.next());
  write_exponent(writer, fd, fd.decimal_exponent - 1, true, least);
}

// The unsigned number text of modes fixed, number and currency.
void layout_amount(TextWriter& writer, const FloatDigits& fd, int decimals, bool grouped) {
  const int exponent = fd.decimal_exponent;
  const char* digits = fd.digit_string;
  const char* end = digits;
  while (*end != '\0') ++end;
  if (exponent <= 0) {
    writer.put('0');
  } else if (!grouped) {
    writer.put_digits(digits, end, static_cast<std::size_t>(exponent));
  } else {
    const char group = number_settings.thousand_separator;
    writer.put_digits(digits, end, static_cast<std::size_t>((exponent - 1) % 3 + 1));
    for (int left = (exponent - 1) / 3; left > 0; --left) {
      writer.put_separator(group);
      writer.put_digits(digits, end, 3);
    }
  }
  if (decimals <= 0) return;
  writer.put_separator(number_settings.decimal_separator);
  const int zeros = exponent < 0 ? std::min(-exponent, decimals) : 0;
  for (int i = 0; i < zeros; ++i) writer.put('0');
  writer.put_digits(digits, end, static_cast<std::size_t>(decimals - zeros));
}

void layout_currency(TextWriter& writer, const FloatDigits& fd, int decimals) {
  const char* cell;
  if (fd.negative) {
    cell = kCurrencyPatterns[4 + std::min<int>(number_settings.negative_currency_format, 15)];
  } else {
    cell = kCurrencyPatterns[std::min<int>(number_settings.currency_format, 3)];
  }
  for (int i = 0; i < 5 && cell[i] != '@'; ++i) {
    switch (cell[i]) {
      case '$': {
        const std::string& text = number_settings.currency_text;
        writer.put(text.data(), std::min(text.size(), kMaxCurrencyText));
        break;
      }
      case '*':
        layout_amount(writer, fd, decimals, true);
        break;
      default:
        writer.put(cell[i]);
    }
  }
}

// The scaling itself, inlined where the conversion runs.
__attribute__((always_inline)) inline Float80 scale_power(Float80 x, int n) {
  if (n == 0) return x;
  if (n >= kScaleLimit) return float80_infinity();
  if (n <= -kScaleLimit) return Float80(0);
  unsigned m = n < 0 ? -static_cast<unsigned>(n) : static_cast<unsigned>(n);
  unsigned mid = (m >> 5) & 15;
  unsigned high = m >> 9;
  // Negative powers divide by the exact-as-possible table entries; a
  // multiplication by a rounded reciprocal would add an error of its own.
  if (n > 0) {
    x *= kT1[m & 31];
    if (mid != 0) x *= kT2[mid];
    if (high != 0) x *= kT3[high];
  } else {
    x /= kT1[m & 31];
    if (mid != 0) x /= kT2[mid];
    if (high != 0) x /= kT3[high];
  }
  return x;
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The parse proper; false when the text is not a number or the value
// overflows. Runs inside `session`.
bool parse_float_text(std::string_view text, const Float80FlagScope& session, Float80& value) {
  const char* chars = text.data();
  const std::size_t size = text.size();
  const char sep = number_settings.decimal_separator;
  std::size_t at = 0;
  while (at < size && chars[at] == ' ') ++at;
  bool minus = false;
  if (at < size && (chars[at] == '+' || chars[at] == '-')) {
    minus = chars[at] == '-';
    ++at;
  }
  // While the digits read stay below 10^19 every step acc * 10 + digit is
  // exact in the extended format, so an integer does the same work faster;
  // from the 20th significant digit on the rounding steps are floating.
  uint64_t small = 0;
  int small_digits = 0;
  Float80 acc = 0;
  bool in_floating = false;
  auto take_digit = [&](char c) {
    unsigned digit = static_cast<unsigned>(c - '0');
    if (!in_floating) {
      if (small_digits < 19) {
        small = small * 10 + digit;
        if (small != 0) ++small_digits;
        return;
      }
      acc = Float80(small);
      in_floating = true;
    }
    acc = acc * 10 + digit;
  };
  bool consumed = false;
  int64_t fraction_digits = 0;
  for (; at < size && is_decimal_digit(chars[at]); ++at) {
    take_digit(chars[at]);
    consumed = true;
  }
  if (at < size && chars[at] == sep) {
    ++at;
    consumed = true;
    for (; at < size && is_decimal_digit(chars[at]); ++at) {
      take_digit(chars[at]);
      ++fraction_digits;
    }
  }
  if (!consumed) return false;
  if (!in_floating) acc = Float80(small);
  int64_t exponent = 0;
  if (at < size && (chars[at] == 'E' || chars[at] == 'e')) {
    ++at;
    bool exponent_minus = false;
    if (at < size && (chars[at] == '+' || chars[at] == '-')) {
      exponent_minus = chars[at] == '-';
      ++at;
    }
    // Stops after the digit that reaches 500: anything beyond is either
    // overflow or underflow, and what is left over fails the parse.
    while (at < size && is_decimal_digit(chars[at])) {
      exponent = exponent * 10 + (chars[at] - '0');
      ++at;
      if (exponent >= 500) break;
    }
    if (exponent_minus) exponent = -exponent;
  }
  while (at < size && chars[at] == ' ') ++at;
  if (at != size) return false;

  int64_t power = std::clamp<int64_t>(exponent - fraction_digits, -kScaleLimit, kScaleLimit);
  Float80 result = scale_power(acc, static_cast<int>(power));
  if (minus) result = -result;
  if (session.overflow_or_invalid(result)) return false;
  value = result;
  return true;
}

}  // namespace

long double scale_by_power_of_ten(long double x, int n) {
  // Each step rounds to the full 64-bit significand, whatever precision the
  // caller runs the unit at.
  Float80Scope extended;
  Float80 v = to_float80(x);
  float80_settle(v);
  Float80 result = scale_power(v, n);
  float80_settle(result);
  return from_float80(result);
}

FloatDigits to_decimal_digits(long double value, int precision, int decimals) {
  FloatDigits fd;
  const Float80 x = to_float80(value);
  const Float80Bits bits = float80_bits(x);
  const unsigned field = bits.exponent_field();
  if (field == 0) return fd;  // zero; extended subnormals count as zero too
  if (field == 0x7FFF) {
    if (bits.significand == 0x8000000000000000ull) {
      fd.decimal_exponent = kExponentInfinity;
      fd.negative = bits.sign();
    } else {
      fd.decimal_exponent = kExponentNaN;
    }
    return fd;
  }
  // Without its integer bit the x87 treats the value as an invalid operand.
  if ((bits.significand >> 63) == 0) {
    fd.decimal_exponent = kExponentNaN;
    return fd;
  }

  const int e2 = static_cast<int>(field) - 16383;
  // floor(e2 * log10(2)) + 1, with 19728 / 65536 for log10(2); the shift of
  // a negative product rounds toward negative infinity.
  int e10 = ((e2 * 19728) >> 16) + 1;

  uint64_t scaled;
  {
    Float80Scope extended;
    Float80 magnitude = float80_abs(x);
    // Settling the value keeps the arithmetic below from being scheduled
    // before the control word is in place.
    float80_settle(magnitude);
    Float80 rounded = round_integer(scale_power(magnitude, 18 - e10));
    if (rounded < Float80(100000000000000000ull)) {
      // The estimate was one too high: the first digit would be a zero.
      --e10;
      rounded = round_integer(scale_power(magnitude, 18 - e10));
    }
    if (rounded >= Float80(1000000000000000000ull)) {
      rounded = rounded / 10;
      ++e10;
    }
    // rounded is an integer below 10^19 here; the store converts it exactly (the
    // library's conversion would switch the control word back and forth).
    scaled = float80_store_integer(rounded);
  }
  if (scaled >= 1000000000000000000ull) {  // a rounding carry into a 19th digit
    scaled = 100000000000000000ull;
    ++e10;
  }

  char d[19];
  write_nine_digits(d, static_cast<uint32_t>(scaled / 1000000000u));
  write_nine_digits(d + 9, static_cast<uint32_t>(scaled % 1000000000u));

  int64_t places = static_cast<int64_t>(e10) + decimals;
  if (places < 0) return fd;
  precision = std::clamp(precision, 2, 18);
  if (places > precision) places = precision;
  int length = 18;
  if (places < 18) {
    length = static_cast<int>(places);
    if (d[places] >= '5') {
      int i = length - 1;
      while (i >= 0 && d[i] == '9') --i;
      if (i < 0) {
        d[0] = '1';
        length = 1;
        ++e10;
      } else {
        ++d[i];
        length = i + 1;
      }
    }
  }
  while (length > 0 && d[length - 1] == '0') --length;
  fd.decimal_exponent = static_cast<int16_t>(e10);
  if (length == 0) return fd;
  fd.negative = bits.sign();
  std::memcpy(fd.digit_string, d, static_cast<std::size_t>(length));
  fd.digit_string[length] = '\0';
  return fd;
}

std::size_t render_float_into(char* out, long double value, FloatMode mode, int precision,
                              int digits) {
  const int code = static_cast<int>(mode);
  const int p = std::clamp(precision, 2, 18);
  // Beyond 18 decimals the text would outgrow the work area.
  const int decimals = code < 2 ? 9999 : std::clamp(digits, 0, 18);
  const FloatDigits fd = to_decimal_digits(value, p, decimals);
  TextWriter w(out);
  if (fd.decimal_exponent == kExponentInfinity) {
    if (fd.negative) w.put('-');
    w.put("INF", 3);
    return w.length();
  }
  if (fd.decimal_exponent == kExponentNaN) {
    w.put("NAN", 3);
    return w.length();
  }
  if (code != static_cast<int>(FloatMode::exponent) &&
      (code < 0 || code > 4 || fd.decimal_exponent > p)) {
    layout_general(w, fd, p, digits);
    return w.length();
  }
  switch (mode) {
    case FloatMode::general:
      layout_general(w, fd, p, digits);
      break;
    case FloatMode::exponent:
      layout_exponent(w, fd, p, digits);
      break;
    case FloatMode::fixed:
    case FloatMode::number:
      if (fd.negative) w.put('-');
      layout_amount(w, fd, decimals, mode == FloatMode::number);
      break;
    case FloatMode::currency:
      layout_currency(w, fd, decimals);
      break;
  }
  return w.length();
}

std::string render_float(long double value, FloatMode mode, int precision, int digits) {
  char work[kRenderFloatCapacity];
  std::size_t length = render_float_into(work, value, mode, precision, digits);
  return std::string(work, length);
}

long double parse_float(std::string_view text) {
  Float80 value = 0;
  bool ok;
  {
    Float80FlagScope session;
    ok = parse_float_text(text, session, value);
  }
  // The caller's floating-point control is back before the failure leaves.
  if (!ok) raise_convert_error("'%s' is not a valid floating point value", text);
  return from_float80(value);
}

ScanIntResult scan_int(std::string_view text) {
  const char* chars = text.data();
  const std::size_t size = text.size();
  std::size_t at = 0;
  while (at < size && chars[at] == ' ') ++at;
  bool minus = false;
  if (at < size && (chars[at] == '-' || chars[at] == '+')) {
    minus = chars[at] == '-';
    ++at;
  }
  bool hex = false;
  if (at < size && (chars[at] == '$' || chars[at] == 'x' || chars[at] == 'X')) {
    hex = true;
    ++at;
  } else if (at + 1 < size && chars[at] == '0' && (chars[at + 1] == 'x' || chars[at + 1] == 'X')) {
    hex = true;
    at += 2;
  }
  if (at >= size) return {};
  uint32_t value = 0;
  if (hex) {
    for (; at < size; ++at) {
      int digit = hex_digit_value(chars[at]);
      if (digit < 0 || value > 0x0FFFFFFFu) return {};
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (minus) value = 0u - value;
    return {static_cast<int32_t>(value), true};
  }
  for (; at < size; ++at) {
    if (!is_decimal_digit(chars[at]) || value > 214748364u) return {};
    value = value * 10 + static_cast<uint32_t>(chars[at] - '0');
  }
  if (minus) {
    if (value > 2147483648u) return {};
    return {static_cast<int32_t>(0u - value), true};
  }
  if (value > 2147483647u) return {};
  return {static_cast<int32_t>(value), true};
}

int32_t parse_int(std::string_view text) {
  ScanIntResult result = scan_int(text);
  if (!result.ok) raise_convert_error("'%s' is not a valid integer value", text);
  return result.value;
}

int32_t parse_int_or_default(std::string_view text, int32_t fallback) {
  ScanIntResult result = scan_int(text);
  return result.ok ? result.value : fallback;
}

std::size_t write_hex(char* out, uint64_t value, int digits) {
  if (digits < 0 || digits > 32) digits = 0;
  static constexpr char kHex[] = "0123456789ABCDEF";
  char text[16];
  int count = 0;
  do {
    text[15 - count++] = kHex[value & 15];
    value >>= 4;
  } while (value != 0);
  std::size_t length = 0;
  for (int pad = count; pad < digits; ++pad) out[length++] = '0';
  std::memcpy(out + length, text + 16 - count, static_cast<std::size_t>(count));
  return length + static_cast<std::size_t>(count);
}

std::string int_to_hex(int64_t value, int digits) {
  char text[32];
  return std::string(text, write_hex(text, static_cast<uint64_t>(value), digits));
}

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
