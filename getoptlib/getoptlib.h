// getoptlib: the argument vector built from the process command line, and a
// scanner of command-line options in the manner of POSIX getopt that
// permutes operands behind the options.
//
// Everything lives in namespace getoptlib: the POSIX names (getopt, optarg,
// optind, option, ...) would otherwise collide with the C library's own
// declarations in <unistd.h> and <getopt.h>.
//
// Example, with the option text "C:I:P:c:w:f:h" and the vector
//   PROG a b -h d -I z e
// getopt returns 'h', then 'I' with optarg "z", then -1 with optind 4; the
// vector is then PROG -h -I z a b d e.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/args.h"

namespace getoptlib {

// ---------------------------------------------------------------- vector --

// An argument vector: element 0 is the program's module path, elements 1 to
// argc - 1 the arguments, element argc the empty text. Sized to the
// arguments, so a command line of any length is served whole.
using argvarray = std::vector<std::string>;

// The program's vector and count, built by build_argument_vector.
extern int32_t argc;
extern argvarray argv;

// The start-up step: fills argc and argv from the command line. Runs once; a
// second call does nothing.
void build_argument_vector();
// The same step for a program that takes its arguments the way an ordinary
// Windows program does: a whole command line is split by
// split_c_runtime_command_line (empty arguments kept); pre-split arguments
// are taken as they are. Runs once, like build_argument_vector, and either
// of the two only once.
void build_c_runtime_argument_vector();

// Number of arguments after the program name.
int32_t parameter_count();

// Index 0: the module path. Index n >= 1: the n-th argument after the
// program name, or the empty text when there are fewer (or n < 0).
std::string parameter_text(int32_t index);

// Splits the next argument off a command line, starting at `position`, and
// moves `position` to the character that ended it (white space or the
// terminating NUL). White space is any byte 1 to 32. A double quote opens a
// stretch in which white space belongs to the argument; the next double
// quote closes it; quotes are never part of an argument. A pair of quotes
// where an argument would begin is skipped like white space. The result is
// empty only when the line ends before an argument begins or a lone quote
// stands at its very end.
//   a"b c"d e   ->  "ab cd", position at " e"
// `next` steps over one character (a double-byte character whole); only the
// first byte of a character is tested. Never reads past the NUL.
std::string split_next_argument(const char*& position,
                                const char* (*next)(const char*) = platform::char_next);

// All arguments of `line` after the program name as typed: the texts that
// repeated split_next_argument calls yield until the first empty one.
std::vector<std::string> split_command_line(const char* line,
                                            const char* (*next)(const char*) = platform::char_next);

// All arguments of `line` after the program name, split by the rules of the
// Microsoft C runtime (since 2008), what an ordinary Windows program finds in
// its argv. The program name ends at the first space or tab outside quotes;
// its quotes only toggle and are dropped, backslashes stay. Then arguments
// are separated by spaces and tabs outside quotes; inside an argument:
//   2n backslashes + quote   -> n backslashes; the quote opens or closes a
//                               quoted run (within which white space stays)
//   2n+1 backslashes + quote -> n backslashes and a literal quote
//   backslashes before anything else stay as they are
//   "" inside a quoted run   -> a literal quote; the run goes on
// A quote begins an argument even when nothing is inside it: `""` is an
// empty argument. The line may end inside a quoted run. `next` steps over a
// character as for split_next_argument; only a character's first byte is a
// quote, backslash or white space.
//   the line  prog a\\\\"b c" "" d"e f"g\"h
//   gives     a\\b c   (empty)   de fg"h
std::vector<std::string> split_c_runtime_command_line(
    const char* line, const char* (*next)(const char*) = platform::char_next);

// --------------------------------------------------------------- scanner --

// One entry of a long-option table. An entry with an empty name ends the
// table.
struct option {
  std::string name;           // without dashes
  uint8_t arg_kind = 0;       // 0: no argument; 1: required; other: optional
  int32_t* target = nullptr;  // when set, a match stores value here and returns 0
  int32_t value = 0;          // what a match returns (or stores)
};

// Argument of the option just returned (or the operand, in the order chosen
// by a leading '-' in the option text); emptied by every call.
extern std::string optarg;
// Index of the next element to scan; set it to 0 to start a new scan.
extern int32_t optind;
// When false, no diagnostic is written.
extern bool opterr;
// The character of the last invalid short option or short option whose
// argument is missing.
extern char optopt;

// Scans the next option of argv[1 .. argc - 1] against `option_text`
// ("C:I:P:c:w:f:h": one ':' after a character requiring an argument, two for
// an optional one; a leading ':' makes a missing argument yield ':'; a
// leading '+' stops at the first operand, a leading '-' returns operands as
// result 1). Returns the option character (1 to 255), '?' or ':' for a bad
// option, or -1 when no options are left; optind then indexes the first
// operand. Diagnostics go to the console output headed by argv[0].
// Long options are not recognised: the unit's own long table is empty.
int32_t getopt(int32_t argc, argvarray& argv, std::string_view option_text);

// The whole decision sequence, with a long-option table (read up to its
// terminating entry or its end) and single-dash long options on or off.
// argc beyond the vector counts as the vector's size.
int32_t scan_options(int32_t argc, argvarray& argv, std::string_view option_text,
                     std::span<const option> long_table, int32_t& long_index,
                     bool single_dash_long);

// Whether the scan (double-dash long options only) reads `element` as an
// option whose required argument is the next element: with "w:v" and a
// long "warning" taking one, "-w", "-vw" and "--warn" (a unique prefix) do;
// "-w5", "--warning=5", "-v", an ambiguous prefix and an unknown option do not.
bool takes_next_element(std::string_view element, std::string_view option_text,
                        std::span<const option> long_table);

}  // namespace getoptlib
