#include "getoptlib/getoptlib.h"

#include <type_traits>
#include <utility>

#include "platform/environment.h"
#include "runtime/console_output.h"

namespace getoptlib {

std::string optarg;
int32_t optind = 0;
bool opterr = true;
char optopt = '?';

namespace {

// Index in the long-option table of the last long option getopt matched.
int32_t long_option_index = 0;

enum class ScanOrder { stop_at_operand, permute_operands, return_operands };

std::string pending_text;
ScanOrder scan_order = ScanOrder::permute_operands;
bool strict_posix = false;
int32_t operands_start = 1;
int32_t operands_end = 1;
// optind as the last -1 left it; a call that finds optind still there
// reports the end again instead of scanning the operands as new elements.
int32_t end_index = -1;

// The unit's own table: only the terminator, so getopt never takes the
// long-option path.
const option long_options[1] = {};

const std::string empty_text;

// The element at `index`, or the empty text outside the vector: no index
// the caller can set makes the scan read outside it.
const std::string& element(const argvarray& argv, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= argv.size()) return empty_text;
  return argv[static_cast<size_t>(index)];
}

// An empty element is an operand too: it holds no option character to read.
bool is_operand(const std::string& text) {
  return text.empty() || text[0] != '-' || text.size() == 1;
}

bool starts_with_two_dashes(const std::string& text) {
  return text.size() >= 2 && text[0] == '-' && text[1] == '-';
}

// The order mark belongs to the initialisation, not to the option
// characters; dropping it on every call keeps the lookup and the
// leading-':' test the same from the first call to the last.
std::string_view without_order_mark(std::string_view option_text) {
  if (!option_text.empty() && (option_text[0] == '+' || option_text[0] == '-')) {
    option_text.remove_prefix(1);
  }
  return option_text;
}

bool in_option_text(std::string_view option_text, char ch) {
  return ch != ':' && option_text.find(ch) != std::string_view::npos;
}

int32_t missing_argument_result(std::string_view option_text) {
  return !option_text.empty() && option_text[0] == ':' ? ':' : '?';
}

bool long_table_in_use(std::span<const option> table) {
  return !table.empty() && !table[0].name.empty();
}

// Writes one diagnostic line: element 0, then the pieces, then the line end
// and the line's I/O check.
template <typename... Pieces>
void diagnose(const argvarray& argv, const Pieces&... pieces) {
  if (!opterr) return;
  write_text(element(argv, 0));
  auto put = [](const auto& piece) {
    if constexpr (std::is_same_v<std::decay_t<decltype(piece)>, char>) {
      write_char(piece);
    } else {
      write_text(piece);
    }
  };
  (put(pieces), ...);
  write_line_end();
  check_io();
}

// The count the scan may use: never more elements than the vector holds.
int32_t usable_count(int32_t argc, const argvarray& argv) {
  int32_t size = argv.size() > 0x7fffffff ? 0x7fffffff : static_cast<int32_t>(argv.size());
  if (argc > size) argc = size;
  return argc < 1 ? 1 : argc;
}

bool operand_block_empty() { return operands_start == operands_end; }

int32_t short_option(int32_t argc, const argvarray& argv, std::string_view option_text) {
  char ch = pending_text[0];
  pending_text.erase(0, 1);
  if (pending_text.empty()) ++optind;
  if (!in_option_text(option_text, ch)) {
    optopt = ch;
    diagnose(argv, strict_posix ? ": illegal option -- " : ": invalid option -- ", ch);
    return '?';
  }
  size_t at = option_text.find(ch) + 1;
  if (at >= option_text.size() || option_text[at] != ':') return static_cast<unsigned char>(ch);
  bool optional = at + 1 < option_text.size() && option_text[at + 1] == ':';
  int32_t result = static_cast<unsigned char>(ch);
  if (!pending_text.empty()) {
    optarg = std::move(pending_text);
    ++optind;
  } else if (optional) {
    // an optional argument is only taken from the same element
  } else if (optind >= argc) {
    optopt = ch;
    result = missing_argument_result(option_text);
  } else {
    optarg = element(argv, optind);
    ++optind;
  }
  pending_text.clear();
  return result;
}

constexpr int32_t kAmbiguous = -2;

// The entry of `table` that `typed` names: the one it spells whole, else the
// only one it begins; -1 for none, kAmbiguous when it begins several.
int32_t match_long_option(std::span<const option> table, std::string_view typed) {
  int32_t found = -1;
  bool ambiguous = false;
  for (size_t i = 0; i < table.size() && !table[i].name.empty(); ++i) {
    const std::string& name = table[i].name;
    if (typed.empty() || !name.starts_with(typed)) continue;
    if (name.size() == typed.size()) return static_cast<int32_t>(i);
    if (found < 0)
      found = static_cast<int32_t>(i);
    else
      ambiguous = true;
  }
  return ambiguous ? kAmbiguous : found;
}

// Returns the result, or -2 when no entry matched and the element is to be
// read as a cluster of short options instead.
int32_t long_option(int32_t argc, const argvarray& argv, std::string_view option_text,
                    std::span<const option> table, int32_t& long_index, bool single_dash_long) {
  const std::string& current = element(argv, optind);
  size_t equals = pending_text.find('=');
  std::string_view typed = std::string_view(pending_text).substr(0, equals);

  const int32_t taken = match_long_option(table, typed);
  if (taken == kAmbiguous) {
    pending_text.clear();
    ++optind;
    diagnose(argv, ": option `", current, "' is ambiguous");
    return '?';
  }
  if (taken >= 0) {
    const option& entry = table[static_cast<size_t>(taken)];
    ++optind;
    if (equals != std::string::npos) {
      if (entry.arg_kind == 0) {
        pending_text.clear();
        if (starts_with_two_dashes(current)) {
          diagnose(argv, ": option `--", entry.name, "' doesn't allow an argument");
        } else {
          diagnose(argv, ": option `", current[0], entry.name, "' doesn't allow an argument");
        }
        return '?';
      }
      optarg = pending_text.substr(equals + 1);
    } else if (entry.arg_kind == 1) {
      if (optind >= argc) {
        pending_text.clear();
        return missing_argument_result(option_text);
      }
      optarg = element(argv, optind);
      ++optind;
    }
    pending_text.clear();
    long_index = taken;
    if (entry.target != nullptr) {
      *entry.target = entry.value;
      return 0;
    }
    return entry.value;
  }

  if (!single_dash_long || starts_with_two_dashes(current) ||
      !in_option_text(option_text, pending_text[0])) {
    std::string typed_text = std::move(pending_text);
    pending_text.clear();
    ++optind;
    if (starts_with_two_dashes(current)) {
      diagnose(argv, ": unrecognized option `--", typed_text, "'");
    } else {
      diagnose(argv, ": unrecognized option `", current.empty() ? '-' : current[0], typed_text,
               "'");
    }
    return '?';
  }
  return -2;
}

// Initialises a scan: reads POSIXLY_CORRECT, chooses the scan order from the
// option text and returns the option text without its order mark.
std::string_view scan_init(std::string_view option_text) {
  operands_start = operands_end = optind = 1;
  end_index = -1;
  pending_text.clear();
  std::string value;
  strict_posix = platform::get_environment("POSIXLY_CORRECT", value) && !value.empty();
  if (!option_text.empty() && option_text[0] == '-') {
    scan_order = ScanOrder::return_operands;
  } else if (!option_text.empty() && option_text[0] == '+') {
    scan_order = ScanOrder::stop_at_operand;
  } else {
    scan_order = strict_posix ? ScanOrder::stop_at_operand : ScanOrder::permute_operands;
  }
  return without_order_mark(option_text);
}

// Exchanges the block of operands skipped so far with the options scanned
// since, in place, each block keeping its order.
void rotate_operands(argvarray& argv) {
  int32_t bottom = operands_start;
  int32_t middle = operands_end;
  int32_t top = optind;
  // Swapping is only defined for skipped operands directly followed by the
  // options scanned since, all inside the vector; anything else (the caller
  // moved optind back, or shrank the vector) leaves nothing to exchange.
  if (!(1 <= bottom && bottom <= middle && middle <= top &&
        static_cast<size_t>(top) <= argv.size())) {
    operands_start = operands_end = optind;
    return;
  }
  while (top > middle && middle > bottom) {
    if (middle - bottom < top - middle) {
      int32_t run = middle - bottom;
      for (int32_t i = 0; i < run; ++i) std::swap(argv[bottom + i], argv[top - run + i]);
      top -= run;
    } else {
      int32_t run = top - middle;
      for (int32_t i = 0; i < run; ++i) std::swap(argv[bottom + i], argv[middle + i]);
      bottom += run;
    }
  }
  operands_start += optind - operands_end;
  operands_end = optind;
}

}  // namespace

int32_t scan_options(int32_t argc, argvarray& argv, std::string_view option_text,
                     std::span<const option> long_table, int32_t& long_index,
                     bool single_dash_long) {
  optarg.clear();
  argc = usable_count(argc, argv);
  if (optind <= 0) {
    option_text = scan_init(option_text);
  } else {
    option_text = without_order_mark(option_text);
  }
  // A caller may move optind between calls (or call again after -1): keep
  // every index inside the vector and the operand block behind optind.
  if (optind >= argc) {
    optind = argc;
    pending_text.clear();
  }
  if (!(1 <= operands_start && operands_start <= operands_end && operands_end <= optind)) {
    operands_start = operands_end = optind;
  }
  if (optind == end_index) return -1;
  end_index = -1;
  const bool long_in_use = long_table_in_use(long_table);

  if (pending_text.empty()) {
    if (scan_order == ScanOrder::permute_operands) {
      if (!operand_block_empty() && operands_end != optind) {
        rotate_operands(argv);
      } else if (operands_end != optind) {
        operands_start = optind;
      }
      while (optind < argc && is_operand(element(argv, optind))) ++optind;
      operands_end = optind;
    }
    if (optind < argc && element(argv, optind) == "--") {
      ++optind;
      if (!operand_block_empty() && operands_end != optind) {
        rotate_operands(argv);
      } else if (operand_block_empty()) {
        operands_start = optind;
      }
      operands_end = optind = argc;
    }
    if (optind >= argc) {
      if (!operand_block_empty()) optind = operands_start;
      end_index = optind;
      return -1;
    }
    const std::string& current = element(argv, optind);
    if (is_operand(current)) {
      if (scan_order == ScanOrder::stop_at_operand) {
        end_index = optind;
        return -1;
      }
      if (scan_order == ScanOrder::return_operands) {
        optarg = current;
        ++optind;
        return 1;
      }
    }
    pending_text = current.substr(1);
    if (long_in_use && current[1] == '-') pending_text.erase(0, 1);
  }

  const std::string& current = element(argv, optind);
  if (long_in_use &&
      ((current.size() >= 2 && current[1] == '-') ||
       (single_dash_long && (current.size() != 2 || !in_option_text(option_text, current[1]))))) {
    int32_t result = long_option(argc, argv, option_text, long_table, long_index, single_dash_long);
    if (result != -2) return result;
  }
  return short_option(argc, argv, option_text);
}

bool takes_next_element(std::string_view element, std::string_view option_text,
                        std::span<const option> long_table) {
  if (element.size() < 2 || element[0] != '-' || element == "--") return false;
  if (element[1] == '-') {
    const std::string_view typed = element.substr(2);
    if (!long_table_in_use(long_table) || typed.find('=') != std::string_view::npos) return false;
    const int32_t taken = match_long_option(long_table, typed);
    return taken >= 0 && long_table[static_cast<size_t>(taken)].arg_kind == 1;
  }
  option_text = without_order_mark(option_text);
  for (size_t i = 1; i < element.size(); ++i) {
    if (!in_option_text(option_text, element[i])) return false;
    const size_t at = option_text.find(element[i]) + 1;
    if (at < option_text.size() && option_text[at] == ':')
      return i + 1 == element.size() &&
             (at + 1 >= option_text.size() || option_text[at + 1] != ':');
  }
  return false;
}

int32_t getopt(int32_t argc, argvarray& argv, std::string_view option_text) {
  return scan_options(argc, argv, option_text, long_options, long_option_index, false);
}

}  // namespace getoptlib
