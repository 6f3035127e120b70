// The argument-file parser on arbitrary text. What it accepts, written back
// with each word quoted in one of three ways, parses to the same words; what
// it refuses leaves the list as it was and names a line of the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "getoptlib/argument_file.h"

namespace {

// 'single quotes': only the quote itself needs a way out ('\'').
void quote_single(std::string* out, const std::string& word) {
  *out += '\'';
  for (char c : word) *out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  *out += '\'';
}

// "double quotes": the four characters a backslash escapes there.
void quote_double(std::string* out, const std::string& word) {
  *out += '"';
  for (char c : word) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') *out += '\\';
    *out += c;
  }
  *out += '"';
}

// Bare, every character escaped; a line end cannot be (backslash-newline
// is removed), so it goes in single quotes.
void quote_bare(std::string* out, const std::string& word) {
  if (word.empty()) *out += "''";
  for (char c : word) {
    if (c == '\n') {
      *out += "'\n'";
    } else {
      *out += '\\';
      *out += c;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> before = {"check_vantric", "-t"};
  std::vector<std::string> args = before;
  std::string why;
  if (!getoptlib::parse_argument_file(text, &args, &why)) {
    if (args != before) abort();
    // "line N: reason", N a line of the text.
    if (why.rfind("line ", 0) != 0) abort();
    const long line = std::strtol(why.c_str() + 5, nullptr, 10);
    if (line < 1 || line > 1 + std::count(text.begin(), text.end(), '\n')) abort();
    return 0;
  }
  if (!std::equal(before.begin(), before.end(), args.begin())) abort();
  const std::vector<std::string> words(args.begin() + static_cast<ptrdiff_t>(before.size()),
                                       args.end());
  std::string quoted = "# written back\n";
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i].find('\0') != std::string::npos) abort();
    (i % 3 == 0 ? quote_single : i % 3 == 1 ? quote_double : quote_bare)(&quoted, words[i]);
    quoted += i % 2 ? "\n" : " \t";
  }
  std::vector<std::string> again;
  if (!getoptlib::parse_argument_file(quoted, &again, &why) || again != words) abort();
  return 0;
}
