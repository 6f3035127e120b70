// The parsing toolkit for /proc and /sys text: one way to split lines and
// tokens, read numbers and undo the kernel's escapes. Pure functions, no
// file access.
//
// Example: split_ws(" 8 0 sda\t1\n") = {"8", "0", "sda", "1"}.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "perfdata/paths.h"

namespace perfdata::linux_backend {

// Tokens separated by ' ', '\t', '\n' and '\r'.
std::vector<std::string_view> split_ws(std::string_view s);
// Lines without their '\n'; a final line without one counts too.
std::vector<std::string_view> split_lines(std::string_view s);
// Without leading and trailing ' ', '\t', '\r' and '\n'.
std::string_view trim(std::string_view s);

// Whole-token decimal numbers; false on empty text, stray bytes or a value
// out of range (never wrapped). parse_i64 takes a leading '-'.
bool parse_u64(std::string_view s, uint64_t& out);
bool parse_i64(std::string_view s, int64_t& out);
bool parse_u32(std::string_view s, uint32_t& out);

// Undoes the kernel's octal escapes (mountinfo, /proc/swaps): every "\ooo"
// with a value below 256 becomes that byte, anything else stays as it is.
// unescape_octal("/mnt/my\\040disk") = "/mnt/my disk".
std::string unescape_octal(std::string_view s);

// Value of "Key:   123 kB" style lines (meminfo, status): the first number
// after "key:" on the line starting with key; false when absent or malformed.
bool field_value(std::string_view text, std::string_view key, uint64_t& out);

}  // namespace perfdata::linux_backend
