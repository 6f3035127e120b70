// Arguments read from files: an argument "@FILE" stands for the arguments
// written in FILE, so that long lists of counter paths need no shell.
//
// The file holds words separated by spaces, tabs and line ends, quoted as on
// a shell command line:
//   'single quotes'   everything literal up to the next single quote;
//   "double quotes"   backslash escapes only '"', '\', '$', '`' and a line
//                     end (which is removed); any other backslash stays;
//   \x outside quotes the character x itself; backslash-newline is removed;
//   # at the start of a word: a comment up to the end of the line.
// Quoted parts join the word around them ('a'"b"c is abc); '' is an empty
// argument. Nothing is expanded ($, `, *, ~ are plain characters).
//
// Failures (parse_argument_file returns false, `why` names the line):
//   an unterminated quote; a backslash at the very end; a NUL byte;
//   a word starting with an unquoted '@': files are not read from files
//   (quote it, '@x', to pass the text @x).
//
//   parse_argument_file("-p '\\Process(a b)\\% Processor Time' # cpu\n-w \"8\"0\n", &v, &why)
//   -> true, v = {"-p", "\\Process(a b)\\% Processor Time", "-w", "80"}
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "getoptlib/getoptlib.h"

namespace getoptlib {

// The largest argument file read.
constexpr size_t kMaxArgumentFileBytes = 1 << 20;

// Appends the words of `text` to `args`. On failure returns false with
// `why` ("line 3: unterminated double quote") and `args` as it was.
bool parse_argument_file(std::string_view text, std::vector<std::string>* args, std::string* why);

// Reads the whole file `path`, at most `limit` bytes: false with `why`
// ("No such file or directory", "larger than 1048576 bytes") otherwise.
using ReadFileFn =
    std::function<bool(const std::string& path, size_t limit, std::string* text, std::string* why)>;

// The options of the program whose arguments are expanded, as its scan
// takes them (scan_options, double-dash long options): an element that is
// an option's argument is never a file.
struct OptionSyntax {
  std::string_view option_text;
  std::span<const option> long_table;
};

// Replaces every argument "@FILE" after args[0] (and before a "--") by the
// words of FILE, read through `read` with the limit kMaxArgumentFileBytes
// (once per such argument); a lone "@" is kept, and so is an "@" that the
// scan would read as the argument of the option before it (a file's last
// word included: takes_next_element with `options`). On failure returns
// false with `why` = "@FILE: " + the reader's or the parser's reason, and
// `args` unchanged.
//   {"check_vantric", "@paths", "-c", "@5:", "-t", "5"}, paths holding "-p A -p B",
//   options "c:p:t:"
//   -> {"check_vantric", "-p", "A", "-p", "B", "-c", "@5:", "-t", "5"}
bool expand_argument_files(std::vector<std::string>* args, const ReadFileFn& read, std::string* why,
                           const OptionSyntax& options = {});
// The same, reading through platform::read_file (platform/file.h).
bool expand_argument_files(std::vector<std::string>* args, std::string* why,
                           const OptionSyntax& options = {});

}  // namespace getoptlib
