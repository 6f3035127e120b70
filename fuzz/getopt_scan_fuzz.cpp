// A whole scan over a random vector (empty elements included) with a random
// option text, with and without a long-option table. Checks: the scan ends;
// the vector afterwards is a permutation of the one before; element 0 and
// the elements beyond the count are untouched; in the default order the
// options and the operands each keep their given order with the operands
// behind; the other orders move nothing; calls after the end keep ending.
//
// Input: byte 0 holds flags, then the option text, then the elements, each
// piece ended by a zero byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "getoptlib/getoptlib.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "runtime/console_output.h"
#include "tests/support/test_support.h"

namespace {

int32_t flag_target;
const getoptlib::option long_table[] = {
    {"verbose", 0, nullptr, 'V'}, {"version", 0, nullptr, 'R'}, {"file", 1, nullptr, 'F'},
    {"color", 2, nullptr, 'K'},   {"a", 0, nullptr, 'A'},       {"ab", 1, nullptr, 'B'},
    {"flag", 0, &flag_target, 7}, {"", 0, nullptr, 0},
};

void silence_console() {
  platform::ConsoleCalls& calls = platform::console_calls();
  calls.std_output_handle = [] { return platform::FileHandle{1}; };
  calls.file_type = [](platform::FileHandle) { return platform::FileType::disk; };
  calls.write_file = [](platform::FileHandle, const void*, uint32_t size, uint32_t* written) {
    *written = size;
    return true;
  };
  calls.close_handle = [](platform::FileHandle) {};
  calls.last_error = [] { return uint32_t{0}; };
}

bool is_operand(const std::string& text) {
  return text.empty() || text[0] != '-' || text.size() == 1;
}

// True when `part` occurs in `whole` in order (greedy matching is exact for
// a subsequence test, also with repeated texts).
bool is_subsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  size_t at = 0;
  for (const std::string& text : whole) {
    if (at < part.size() && part[at] == text) ++at;
  }
  return at == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silence_console();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  std::vector<std::string> pieces(1);
  for (size_t i = 1; i < size && pieces.size() <= 300; ++i) {
    if (data[i] == 0) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(static_cast<char>(data[i]));
    }
  }
  const std::string option_text = pieces[0];
  getoptlib::argvarray argv = {"PROG"};
  argv.insert(argv.end(), pieces.begin() + 1, pieces.end());
  int32_t argc = static_cast<int32_t>(argv.size());
  if (!(flags & 8)) argv.push_back("");  // else the count runs one past the vector
  if (flags & 32) argc += 40;

  const bool use_long = flags & 1;
  const bool single_dash_long = flags & 2;
  const bool strict = flags & 16;
  test_support::set_environment("POSIXLY_CORRECT", strict ? "1" : nullptr);
  getoptlib::opterr = flags & 4;
  getoptlib::optind = 0;
  console_output_reset();

  const getoptlib::argvarray before = argv;
  int32_t long_index = 0;
  auto scan = [&] {
    return use_long ? getoptlib::scan_options(argc, argv, option_text, long_table, long_index,
                                              single_dash_long)
                    : getoptlib::getopt(argc, argv, option_text);
  };
  size_t budget = 10 + 2 * argv.size();
  for (const std::string& text : argv) budget += text.size();
  for (;;) {
    if (budget-- == 0) abort();  // the scan does not end
    if (scan() == -1) break;
  }
  const int32_t count = std::min<int32_t>(argc, static_cast<int32_t>(argv.size()));
  const int32_t end = getoptlib::optind;
  if (end < 1 || end > std::max(count, 1)) abort();

  std::vector<std::string> sorted_before(before.begin(), before.end());
  std::vector<std::string> sorted_after(argv.begin(), argv.end());
  std::sort(sorted_before.begin(), sorted_before.end());
  std::sort(sorted_after.begin(), sorted_after.end());
  if (sorted_before != sorted_after) abort();
  if (argv[0] != before[0]) abort();
  for (size_t i = static_cast<size_t>(std::max(count, 1)); i < argv.size(); ++i) {
    if (argv[i] != before[i]) abort();
  }

  const bool permuting =
      !strict && (option_text.empty() || (option_text[0] != '+' && option_text[0] != '-'));
  if (permuting && count > 1) {
    const std::vector<std::string> original(before.begin() + 1, before.begin() + count);
    const std::vector<std::string> head(argv.begin() + 1, argv.begin() + end);
    const std::vector<std::string> tail(argv.begin() + end, argv.begin() + count);
    if (!is_subsequence(head, original) || !is_subsequence(tail, original)) abort();
    if (head.empty() || head.back() != "--") {
      for (const std::string& text : tail) {
        if (!is_operand(text)) abort();
      }
    }
  } else if (argv != before) {
    abort();
  }

  const getoptlib::argvarray ended = argv;
  for (int again = 0; again < 2; ++again) {
    if (scan() != -1 || getoptlib::optind != end || argv != ended) abort();
  }
  return 0;
}
