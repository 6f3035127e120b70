#include "app/check_vantric/options.h"

#include <charconv>
#include <string_view>

#include "app/check_vantric/finish.h"
#include "getoptlib/getoptlib.h"

namespace check_vantric {
namespace {

enum LongOnly : int32_t { kMissing = 1000, kList, kExpand, kNoCap };

const getoptlib::option kLongOptions[] = {
    {"object", 1, nullptr, 'C'},       {"instance", 1, nullptr, 'I'},
    {"counter", 1, nullptr, 'P'},      {"path", 1, nullptr, 'p'},
    {"warning", 1, nullptr, 'w'},      {"critical", 1, nullptr, 'c'},
    {"label", 1, nullptr, 'l'},        {"interval", 1, nullptr, 's'},
    {"samples", 1, nullptr, 'n'},      {"timeout", 1, nullptr, 't'},
    {"missing", 1, nullptr, kMissing}, {"no-cap", 0, nullptr, kNoCap},
    {"verbose", 0, nullptr, 'v'},      {"list", 0, nullptr, kList},
    {"expand", 1, nullptr, kExpand},   {"help", 0, nullptr, 'h'},
    {"version", 0, nullptr, 'V'},      {"", 0, nullptr, 0}};

// The options that take a whole number within bounds.
struct NumericOption {
  char letter;
  uint32_t minimum, maximum;
  uint32_t Request::*field;
  const char* message;  // followed by ", not '<text>'"
};
constexpr NumericOption kNumericOptions[] = {
    {'s', 0, 3600000, &Request::interval_ms, "-s wants milliseconds from 0 to 3600000"},
    {'n', 1, 1000, &Request::samples, "-n wants a count of intervals from 1 to 1000"},
    {'t', 1, 86400, &Request::timeout_s, "-t wants seconds from 1 to 86400"},
};

// The options whose argument is kept as it is (the last one given counts).
struct TextOption {
  char letter;
  std::string Request::*field;
};
constexpr TextOption kTextOptions[] = {
    {'C', &Request::object}, {'I', &Request::instance},  {'P', &Request::counter},
    {'l', &Request::label},  {'w', &Request::warn_text}, {'c', &Request::crit_text},
};

// What the scan saw besides the request itself.
struct Seen {
  bool list = false, expand = false;
};

bool parse_count(std::string_view text, uint32_t low, uint32_t high, uint32_t* out) {
  uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
  if (v < low || v > high) return false;
  *out = v;
  return true;
}

// Stores an option whose argument is taken as it is or as a bounded number;
// false for any other option.
bool store_argument(int32_t c, const std::string& arg, Request& r) {
  for (const NumericOption& n : kNumericOptions) {
    if (c != n.letter) continue;
    if (!parse_count(arg, n.minimum, n.maximum, &(r.*n.field)))
      fail(std::string(n.message) + ", not '" + arg + "'");
    return true;
  }
  for (const TextOption& t : kTextOptions) {
    if (c != t.letter) continue;
    r.*t.field = arg;
    return true;
  }
  if (c == 'p') r.paths.push_back(arg);
  return c == 'p';
}

// `element` is the command-line element the option came from.
void apply_option(int32_t c, const std::string& arg, const std::string& element, Request& r,
                  Seen& seen) {
  if (store_argument(c, arg, r)) return;
  const bool is_long = element.starts_with("--");
  switch (c) {
    case kMissing:
      if (!plugin::parse_state(arg, &r.missing))
        fail("--missing wants OK, WARNING, CRITICAL or UNKNOWN, not '" + arg + "'");
      return;
    case kNoCap:
      r.no_cap = true;
      return;
    case 'v':
      r.verbose = true;
      return;
    case kList:
      seen.list = true;
      return;
    case kExpand:
      seen.expand = true;
      r.expand_path = arg;
      return;
    case 'h':
      r.mode = Mode::help;
      return;
    case 'V':
      if (r.mode != Mode::help) r.mode = Mode::version;
      return;
    case ':':
      fail(is_long ? "option " + element.substr(0, element.find('=')) + " wants an argument"
                   : std::string("option -") + getoptlib::optopt + " wants an argument");
    default:
      fail(is_long ? "unknown option " + element.substr(0, element.find('='))
                   : std::string("unknown option -") + getoptlib::optopt);
  }
}

// --list and --expand and the operands; true when the request is one of them.
bool choose_discovery(Request& r, const Seen& seen) {
  std::vector<std::string> operands(getoptlib::argv.begin() + getoptlib::optind,
                                    getoptlib::argv.begin() + getoptlib::argc);
  if (seen.list && seen.expand) fail("--list and --expand exclude each other");
  if (seen.list) {
    if (operands.size() > 1) fail("--list takes at most one object");
    r.mode = Mode::list;
    if (!operands.empty()) r.list_object = operands[0];
    return true;
  }
  if (!operands.empty()) fail("unexpected argument '" + operands[0] + "'");
  if (seen.expand) r.mode = Mode::expand;
  return seen.expand;
}

// The paths to check, from -C/-I/-P or from -p.
void name_counters(Request& r) {
  const bool by_parts = !r.object.empty() || !r.instance.empty() || !r.counter.empty();
  if (by_parts && !r.paths.empty()) fail("give -C/-I/-P or -p, not both");
  if (by_parts) {
    if (r.object.empty() || r.counter.empty()) fail("-C and -P name the counter together");
    std::string path = "\\" + r.object;
    if (!r.instance.empty()) path += "(" + r.instance + ")";
    r.paths.push_back(path + "\\" + r.counter);
  }
  if (r.paths.empty()) fail("no counter given (-C and -P, or -p; see --help)");
  for (const std::string& p : r.paths)
    if (p.size() < 2 || p[0] != '\\')
      fail("'" + p + "' is not a counter path like \\Object(Instance)\\Counter");
}

void read_bounds(Request& r) {
  // An empty range counts as not given, for agents that fill in unset arguments.
  r.has_warn = !r.warn_text.empty();
  r.has_crit = !r.crit_text.empty();
  std::string why;
  if (r.has_warn && !plugin::parse_range(r.warn_text, &r.warn, &why))
    fail("bad warning range '" + r.warn_text + "': " + why);
  if (r.has_crit && !plugin::parse_range(r.crit_text, &r.crit, &why))
    fail("bad critical range '" + r.crit_text + "': " + why);
  if (uint64_t{r.interval_ms} * r.samples >= uint64_t{r.timeout_s} * 1000)
    fail("sampling takes " + std::to_string(uint64_t{r.interval_ms} * r.samples) +
         " ms; the -t timeout of " + std::to_string(r.timeout_s) + " s must be longer");
}

}  // namespace

Request read_options() {
  Request r;
  Seen seen;
  getoptlib::opterr = false;
  getoptlib::optind = 0;
  int32_t long_index = 0;
  for (;;) {
    const int32_t at = getoptlib::optind < 1 ? 1 : getoptlib::optind;
    const std::string element = at < getoptlib::argc ? getoptlib::argv[at] : std::string();
    const int32_t c =
        getoptlib::scan_options(getoptlib::argc, getoptlib::argv, ":C:I:P:p:w:c:l:s:n:t:vhV",
                                kLongOptions, long_index, false);
    if (c == -1) break;
    apply_option(c, getoptlib::optarg, element, r, seen);
  }
  if (r.mode != Mode::check || choose_discovery(r, seen)) return r;
  name_counters(r);
  read_bounds(r);
  return r;
}

}  // namespace check_vantric
