#include "number_text/format.h"

#include <cstring>
#include <limits>
#include <new>

#include "failure/failure.h"
#include "number_text/integers.h"
#include "number_text/number_settings.h"
#include "number_text/render.h"
#include "platform/codepage.h"

FormatArg FormatArg::ztext(const char* v) {
  return text(v != nullptr ? std::string_view(v) : std::string_view());
}

namespace {

constexpr char kMissingArgument[] = "No argument for format '%s'";
constexpr char kIncompatible[] = "Format '%s' invalid or incompatible with argument";
constexpr std::size_t kDirectiveNameLimit = 31;

constexpr std::size_t kScratchSize = 4096;
// Formats this long or longer skip the scratch buffer: their result would
// rarely fit, and a failed try costs a whole expansion.
constexpr std::size_t kScratchFormatLimit = 3072;

constexpr uint64_t kCountLimit = std::numeric_limits<uint64_t>::max();

// Writes into a room of fixed size and keeps counting past it, so that one
// try tells how large the room for the whole result must be. The count
// saturates: thousands of four-gigabyte widths must not wrap it round to a
// length that looks as if it fitted.
class Sink {
 public:
  Sink(char* out, std::size_t room) : out_(out), room_(room) {}

  void put(const char* bytes, std::size_t n) {
    std::size_t free = room_ - used_;
    std::size_t take = n < free ? n : free;
    if (take != 0) {
      std::memcpy(out_ + used_, bytes, take);
      used_ += take;
    }
    count(n);
  }

  void put(char c) {
    if (used_ < room_) out_[used_++] = c;
    count(1);
  }

  void fill(char c, uint64_t n) {
    std::size_t free = room_ - used_;
    std::size_t take = n < free ? static_cast<std::size_t>(n) : free;
    if (take != 0) {
      std::memset(out_ + used_, c, take);
      used_ += take;
    }
    count(n);
  }

  std::size_t used() const { return used_; }
  uint64_t total() const { return total_; }

 private:
  void count(uint64_t n) { total_ = n > kCountLimit - total_ ? kCountLimit : total_ + n; }

  char* out_;
  std::size_t room_;
  std::size_t used_ = 0;
  uint64_t total_ = 0;
};

[[noreturn]] void fail(const char* message_template, std::string_view directive) {
  raise_convert_error(message_template, directive_for_message(directive, platform::is_lead_byte));
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Decimal digits of `magnitude` (at least `least` of them, 0 to 16), after a
// "-" when `negative`, into `out`; returns the length.
std::size_t write_decimal(char* out, bool negative, uint32_t magnitude, int least) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::size_t len = 0;
  if (negative) out[len++] = '-';
  for (int i = count; i < least; ++i) out[len++] = '0';
  while (count > 0) out[len++] = digits[--count];
  return len;
}

class Expansion {
 public:
  Expansion(std::string_view format, FormatArgs args, Sink& sink)
      : format_(format), args_(args), sink_(sink) {}

  void run() {
    const char* const begin = format_.data();
    const std::size_t size = format_.size();
    std::size_t at = 0;
    while (at < size) {
      const void* percent = std::memchr(begin + at, '%', size - at);
      std::size_t next = percent != nullptr
                             ? static_cast<std::size_t>(static_cast<const char*>(percent) - begin)
                             : size;
      sink_.put(begin + at, next - at);
      at = next;
      if (at == size) break;
      if (at + 1 == size) break;  // a "%" as the last byte
      if (begin[at + 1] == '%') {
        sink_.put('%');
        at += 2;
        continue;
      }
      if (!directive(at)) break;  // the format ends inside this directive
    }
  }

 private:
  // Reads and expands the directive whose "%" is at `start_and_next` and
  // moves that past it. False when the format ends before the type letter.
  bool directive(std::size_t& start_and_next) {
    const std::size_t start = start_and_next;
    std::size_t at = start + 1;
    number_too_large_ = false;
    const std::size_t size = format_.size();
    const char* chars = format_.data();
    bool left = false;
    int64_t number = 0;
    for (;;) {
      left = false;
      if (at < size && chars[at] == '-') {
        left = true;
        ++at;
      }
      if (at == size) return false;
      number = read_number(at);
      if (at == size) return false;
      if (chars[at] != ':') break;
      counter_ = number < 0 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(number);
      ++at;
    }
    const uint64_t width = number < 0 ? 0 : static_cast<uint64_t>(number);
    int64_t precision = -1;  // absent
    if (chars[at] == '.') {
      ++at;
      if (at == size) return false;
      precision = read_number(at);
      if (at == size) return false;
      if (precision < 0) precision = -1;
    }
    const char letter = lower(chars[at]);
    ++at;
    const std::string_view text(chars + start, at - start);
    start_and_next = at;

    if (number_too_large_) fail(kIncompatible, text);
    if (counter_ >= args_.count) fail(kMissingArgument, text);
    const FormatArg& arg = args_.items[counter_];
    ++counter_;

    char area[kRenderFloatCapacity];
    std::size_t len = 0;
    const char* out = area;
    const bool precise_float = precision >= 0 && precision <= 18;
    const int least = precision >= 0 && precision <= 16 ? static_cast<int>(precision) : 0;
    switch (arg.kind) {
      case FormatArg::Kind::floating: {
        const int digits_wanted = static_cast<int>(precision);
        switch (letter) {
          case 'g':
            len = render_float_into(area, arg.f, FloatMode::general,
                                    precise_float ? digits_wanted : 15, 3);
            break;
          case 'e':
            len = render_float_into(area, arg.f, FloatMode::exponent,
                                    precise_float ? digits_wanted : 15, 3);
            break;
          case 'f':
            len = render_float_into(area, arg.f, FloatMode::fixed, 18,
                                    precise_float ? digits_wanted : 2);
            break;
          case 'n':
            len = render_float_into(area, arg.f, FloatMode::number, 18,
                                    precise_float ? digits_wanted : 2);
            break;
          case 'm':
            len = render_float_into(
                area, arg.f, FloatMode::currency, 18,
                precise_float ? digits_wanted : number_settings.currency_decimals);
            break;
          default:
            fail(kIncompatible, text);
        }
        break;
      }
      case FormatArg::Kind::integer: {
        const uint32_t bits = static_cast<uint32_t>(arg.i);
        switch (letter) {
          case 'd':
            len = write_decimal(area, arg.i < 0, arg.i < 0 ? 0u - bits : bits, least);
            break;
          case 'u':
            len = write_decimal(area, false, bits, least);
            break;
          case 'x':
            len = write_hex(area, bits, least);
            break;
          default:
            fail(kIncompatible, text);
        }
        break;
      }
      case FormatArg::Kind::text: {
        if (letter != 's') fail(kIncompatible, text);
        out = arg.s.data();
        len = arg.s.size();
        if (precision >= 0 && static_cast<uint64_t>(precision) < len) {
          len = static_cast<std::size_t>(precision);
        }
        break;
      }
      case FormatArg::Kind::pointer: {
        if (letter != 'p') fail(kIncompatible, text);
        len = write_hex(area, arg.p, 8);
        break;
      }
      default:
        fail(kIncompatible, text);
    }

    const uint64_t pad = width > len ? width - len : 0;
    if (!left) sink_.fill(' ', pad);
    sink_.put(out, len);
    if (left) sink_.fill(' ', pad);
    return true;
  }

  // A "*" (the next argument's value when it is an integer, else 0), a run
  // of digits, or 0. A run beyond the largest 32-bit unsigned value marks
  // the directive invalid: taken as a width it would ask for gigabytes of
  // padding that nobody can have meant.
  int64_t read_number(std::size_t& at) {
    const char* chars = format_.data();
    const std::size_t size = format_.size();
    if (chars[at] == '*') {
      ++at;
      if (counter_ >= args_.count) return 0;
      const FormatArg& arg = args_.items[counter_];
      ++counter_;
      return arg.kind == FormatArg::Kind::integer ? arg.i : 0;
    }
    constexpr int64_t kMax = std::numeric_limits<uint32_t>::max();
    int64_t value = 0;
    while (at < size && is_decimal_digit(chars[at])) {
      value = value * 10 + (chars[at] - '0');
      if (value > kMax) {
        number_too_large_ = true;
        value = kMax;
      }
      ++at;
    }
    return value;
  }

  std::string_view format_;
  FormatArgs args_;
  Sink& sink_;
  uint64_t counter_ = 0;
  bool number_too_large_ = false;
};

// Expands `format` into `out`, writing at most `room` bytes; returns the
// length of the whole result, which may exceed `room`.
uint64_t expand(char* out, std::size_t room, std::string_view format, FormatArgs args) {
  Sink sink(out, room);
  Expansion(format, args, sink).run();
  return sink.total();
}

}  // namespace

std::string_view directive_for_message(std::string_view directive,
                                       bool (*opens_two_byte_char)(unsigned char)) {
  if (directive.size() > kDirectiveNameLimit) directive = directive.substr(0, kDirectiveNameLimit);
  // Only the type letter can be a byte above the ASCII range, and it follows
  // ASCII bytes, so a lead-byte value there really does open a character.
  if (!directive.empty() && opens_two_byte_char(static_cast<unsigned char>(directive.back()))) {
    directive.remove_suffix(1);
  }
  return directive;
}

std::string format_value(std::string_view format, FormatArgs args) {
  // The first try counts the whole length, so the result is allocated once
  // at its exact size: a width of gigabytes is held once, not in a doubled
  // buffer and again in the copy returned.
  char scratch[kScratchSize];
  const std::size_t scratch_room = format.size() < kScratchFormatLimit ? kScratchSize - 1 : 0;
  const uint64_t total = expand(scratch, scratch_room, format, args);
  if (total <= scratch_room) return std::string(scratch, static_cast<std::size_t>(total));
  std::string result;
  if (total > result.max_size()) throw std::bad_alloc();
  result.resize(static_cast<std::size_t>(total));
  expand(result.data(), result.size(), format, args);
  return result;
}

char* format_into_buffer(char* buffer, std::size_t capacity, const char* format, FormatArgs args) {
  if (buffer == nullptr || format == nullptr) return nullptr;
  const uint64_t total = expand(buffer, capacity, format, args);
  buffer[total < capacity ? static_cast<std::size_t>(total) : capacity] = '\0';
  return buffer;
}
