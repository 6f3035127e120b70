#include "number_text/render.h"

#include <algorithm>
#include <cstring>

#include "float80/float80.h"
#include "number_text/number_settings.h"
#include "number_text/power_scale.h"

namespace {

constexpr int16_t kExponentInfinity = 32767;
constexpr int16_t kExponentNaN = -32768;
// Longest currency text written; keeps the work area bounded whatever the
// locale delivers (the locale reader itself stops at 255).
constexpr std::size_t kMaxCurrencyText = 256;

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

}  // namespace

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
