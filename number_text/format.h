// Format directives: expands a format text against an argument list.
//
//   format_value("[%8.3f]", {FormatArg::floating(12.5L)})  -> "[  12.500]"
//
// Directive: "%" [-] [number|*] [":" [-] [number|*]]... ["." number|*] letter
// Letters (any case): G E F N M for floating arguments, D U X for integers,
// S for texts, P for pointers. "%%" is one "%". A "%" as the last byte, or a
// directive cut off by the end of the format, contributes nothing.
//
// Numbers: a digit run above 4294967295 makes the directive invalid (the
// "invalid or incompatible" failure naming it); "*" takes the next argument
// (its value when it is an integer, else 0). A negative width from "*" counts
// as 0; a negative precision from "*" counts as absent. An index that names
// no element is a missing argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

struct FormatArg {
  enum class Kind : uint8_t { floating, integer, pointer, text };
  Kind kind;
  long double f = 0;
  int32_t i = 0;
  uint32_t p = 0;
  std::string_view s;  // a text of given length

  static FormatArg floating(long double v) { return {Kind::floating, v, 0, 0, {}}; }
  static FormatArg integer(int32_t v) { return {Kind::integer, 0, v, 0, {}}; }
  static FormatArg pointer(uint32_t v) { return {Kind::pointer, 0, 0, v, {}}; }
  static FormatArg text(std::string_view v) { return {Kind::text, 0, 0, 0, v}; }
  // A zero-ended text: up to its first zero byte.
  static FormatArg ztext(const char* v);
};

struct FormatArgs {
  const FormatArg* items = nullptr;
  std::size_t count = 0;
  FormatArgs() = default;
  // For a braced list written in the call itself: its elements live until
  // the end of the call's full expression, and the list is read only then.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winit-list-lifetime"
#endif
  FormatArgs(std::initializer_list<FormatArg> list) : items(list.begin()), count(list.size()) {}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  FormatArgs(const FormatArg* p, std::size_t n) : items(p), count(n) {}
};

// The whole expansion, allocated once at its final length. Raises
// EConvertError "No argument for format '%s'" or "Format '%s' invalid or
// incompatible with argument" (through raise_convert_error). A result beyond what memory can hold
// raises std::bad_alloc, which the program reports as out of memory.
std::string format_value(std::string_view format, FormatArgs args);

// Writes the expansion cut at `capacity` bytes, then one zero byte (so
// `buffer` holds capacity + 1 bytes); returns `buffer`, or nullptr (writing
// nothing) when `buffer` or `format` is null. Allocates nothing itself.
char* format_into_buffer(char* buffer, std::size_t capacity, const char* format, FormatArgs args);

// How a failure message names a failing directive: its first 31 bytes, less
// a last kept byte for which `opens_two_byte_char` is true (a lone lead byte
// would swallow the message's closing quote on a double-byte code page).
std::string_view directive_for_message(std::string_view directive,
                                       bool (*opens_two_byte_char)(unsigned char));
