#include "app/check_vantric/options.h"

#include <charconv>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "getoptlib/getoptlib.h"
#include "perfdata/paths.h"
#include "plugin/path_thresholds.h"

namespace check_vantric {
namespace {

// "-": operands come back in place (as option 1); ":": a missing argument is
// told apart from an unknown option.
constexpr const char* kShortOptions = "-:C:I:P:p:w:c:l:s:n:t:vhV";

enum LongOnly : int32_t { kMissing = 1000, kList, kExpand, kFormat, kTextfile, kNoCap, kGauges };
// --since-last, --state-dir, --max-age: checks judged since their last run.
enum SinceLastOption : int32_t { kSince = 1100, kState, kMaxAge };

const getoptlib::option kLongOptions[] = {
    {"object", 1, nullptr, 'C'},         {"instance", 1, nullptr, 'I'},
    {"counter", 1, nullptr, 'P'},        {"path", 1, nullptr, 'p'},
    {"warning", 1, nullptr, 'w'},        {"critical", 1, nullptr, 'c'},
    {"label", 1, nullptr, 'l'},          {"interval", 1, nullptr, 's'},
    {"samples", 1, nullptr, 'n'},        {"timeout", 1, nullptr, 't'},
    {"missing", 1, nullptr, kMissing},   {"no-cap", 0, nullptr, kNoCap},
    {"verbose", 0, nullptr, 'v'},        {"list", 0, nullptr, kList},
    {"expand", 1, nullptr, kExpand},     {"format", 1, nullptr, kFormat},
    {"textfile", 1, nullptr, kTextfile}, {"help", 0, nullptr, 'h'},
    {"version", 0, nullptr, 'V'},        {"interval-gauges", 0, nullptr, kGauges},
    {"since-last", 0, nullptr, kSince},  {"state-dir", 1, nullptr, kState},
    {"max-age", 1, nullptr, kMaxAge},    {"", 0, nullptr, 0}};

// The options that take a whole number within bounds.
struct NumericOption {
  int32_t letter;
  uint32_t minimum, maximum;
  uint32_t Request::*field;
  const char* message;  // followed by ", not '<text>'"
};
constexpr NumericOption kNumericOptions[] = {
    {'s', 0, 3600000, &Request::interval_ms, "-s wants milliseconds from 0 to 3600000"},
    {'n', 1, 1000, &Request::samples, "-n wants a count of intervals from 1 to 1000"},
    {'t', 1, 86400, &Request::timeout_s, "-t wants seconds from 1 to 86400"},
    {kMaxAge, 1, 2678400, &Request::max_age_s, "--max-age wants seconds from 1 to 2678400"},
};

// The options whose argument is kept as it is (the last one given counts).
struct TextOption {
  char letter;
  std::string Request::*field;
};
constexpr TextOption kTextOptions[] = {
    {'C', &Request::object},
    {'I', &Request::instance},
    {'P', &Request::counter},
    {'l', &Request::label},
};

// What the scan saw besides the request itself.
struct Seen {
  bool list = false, expand = false, format = false;
  std::vector<std::string> operands;
  // Paths and ranges in the order given; the -C/-I/-P path is filled in
  // at parts_event once the scan is over.
  std::vector<plugin::ThresholdEvent> events;
  size_t parts_event = SIZE_MAX;
};

// The shortest pause between samples: tick-based counters (CPU times) move
// in clock ticks of 10 ms on Linux (USER_HZ 100) and of up to 15.6 ms on
// Windows; a shorter interval often sees no tick at all and has no value.
// 100 ms spans several ticks on both.
constexpr uint32_t kShortestInterval = 100;

// In the order of Format.
constexpr std::string_view kFormatNames[] = {"nagios", "openmetrics", "json"};

bool parse_count(std::string_view text, uint32_t low, uint32_t high, uint32_t* out) {
  uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
  if (v < low || v > high) return false;
  *out = v;
  return true;
}

// Stores an option whose argument is taken as it is or as a bounded number
// (a bad one sets `problem`); false for any other option.
bool store_argument(int32_t c, const std::string& arg, Request& r, std::string& problem) {
  for (const NumericOption& n : kNumericOptions) {
    if (c != n.letter) continue;
    if (!parse_count(arg, n.minimum, n.maximum, &(r.*n.field)))
      problem = std::string(n.message) + ", not '" + arg + "'";
    return true;
  }
  for (const TextOption& t : kTextOptions) {
    if (c != t.letter) continue;
    r.*t.field = arg;
    return true;
  }
  return false;
}

// Paths and ranges, whose order says which range applies to which path.
bool store_event(int32_t c, const std::string& arg, Request& r, Seen& seen) {
  using plugin::ThresholdEvent;
  switch (c) {
    case 'p':
      r.paths.push_back(arg);
      seen.events.push_back({ThresholdEvent::path, arg});
      return true;
    case 'w':
      seen.events.push_back({ThresholdEvent::warn, arg});
      return true;
    case 'c':
      seen.events.push_back({ThresholdEvent::crit, arg});
      return true;
    case 'C':
    case 'I':
    case 'P':
      if (seen.parts_event == SIZE_MAX) {
        seen.parts_event = seen.events.size();
        seen.events.push_back({ThresholdEvent::path, {}});
      }
      return false;  // the part itself is a text option
    default:
      return false;
  }
}

std::string choose_format(const std::string& arg, Request& r, Seen& seen) {
  for (size_t i = 0; i < std::size(kFormatNames); ++i) {
    if (arg != kFormatNames[i]) continue;
    r.format = static_cast<Format>(i);
    seen.format = true;
    return {};
  }
  return "--format wants nagios, openmetrics or json, not '" + arg + "'";
}

// `element` is the command-line element the option came from; returns the
// problem it makes, or "".
std::string apply_option(int32_t c, const std::string& arg, const std::string& element, Request& r,
                         Seen& seen) {
  std::string problem;
  if (store_event(c, arg, r, seen) || store_argument(c, arg, r, problem)) return problem;
  const bool is_long = element.starts_with("--");
  switch (c) {
    case kMissing:
      if (!plugin::parse_state(arg, &r.missing))
        return "--missing wants OK, WARNING, CRITICAL or UNKNOWN, not '" + arg + "'";
      return {};
    case kNoCap:
      r.no_cap = true;
      return {};
    case kGauges:
      r.interval_gauges = true;
      return {};
    case 'v':
      r.verbose = true;
      return {};
    case kFormat:
      return choose_format(arg, r, seen);
    case kTextfile:
      r.textfile = arg;
      return {};
    case kSince:
      r.since_last = true;
      return {};
    case kState:
      r.state_dir = arg;
      return {};
    case kList:
      seen.list = true;
      return {};
    case kExpand:
      seen.expand = true;
      r.expand_path = arg;
      return {};
    case 'h':
      r.mode = Mode::help;
      return {};
    case 'V':
      if (r.mode != Mode::help) r.mode = Mode::version;
      return {};
    case ':':
      return is_long ? "option " + element.substr(0, element.find('=')) + " wants an argument"
                     : std::string("option -") + getoptlib::optopt + " wants an argument";
    default:
      return is_long ? "unknown option " + element.substr(0, element.find('='))
                     : std::string("unknown option -") + getoptlib::optopt;
  }
}

// --list and --expand and the operands: their problem, or "" with the mode set.
std::string choose_discovery(Request& r, const Seen& seen) {
  const std::vector<std::string>& operands = seen.operands;
  if (seen.list && seen.expand) return "--list and --expand exclude each other";
  if ((seen.list || seen.expand) && !r.textfile.empty())
    return "--textfile writes a check's result, not --list or --expand";
  if ((seen.list || seen.expand) && r.since_last)
    return "--since-last judges a check, not --list or --expand";
  if ((seen.list || seen.expand) && r.format == Format::openmetrics)
    return "--list and --expand have no OpenMetrics form (--format=nagios or json)";
  if (seen.list) {
    if (operands.size() > 1) return "--list takes at most one object";
    r.mode = Mode::list;
    if (!operands.empty()) r.list_object = operands[0];
    return {};
  }
  if (!operands.empty()) return "unexpected argument '" + operands[0] + "'";
  if (seen.expand) r.mode = Mode::expand;
  return {};
}

// The paths to check, from -C/-I/-P or from -p.
std::string name_counters(Request& r, Seen& seen) {
  const bool by_parts = !r.object.empty() || !r.instance.empty() || !r.counter.empty();
  if (by_parts && !r.paths.empty()) return "give -C/-I/-P or -p, not both";
  if (by_parts) {
    if (r.object.empty() || r.counter.empty()) return "-C and -P name the counter together";
    r.paths.push_back(
        perfdata::join_path(r.object, r.instance.empty() ? nullptr : &r.instance, r.counter));
    seen.events[seen.parts_event].text = r.paths.back();
  } else if (seen.parts_event != SIZE_MAX) {
    // Only empty parts were given (an agent's unset arguments): no path.
    seen.events.erase(seen.events.begin() + static_cast<ptrdiff_t>(seen.parts_event));
  }
  if (r.paths.empty()) return "no counter given (-C and -P, or -p; see --help)";
  for (const std::string& p : r.paths)
    if (p.size() < 2 || p[0] != '\\')
      return "'" + p + "' is not a counter path like \\Object(Instance)\\Counter";
  return {};
}

// Reads one range text into `range`, false with `problem` set for a bad
// one; an empty text counts as not given (`*given` false), for agents that
// fill in unset arguments.
bool read_range(const std::string& text, bool warn, plugin::Range* range, bool* given,
                std::string& problem) {
  std::string why;
  *given = !text.empty();
  if (text.empty() || plugin::parse_range(text, range, &why)) return true;
  problem = std::string(warn ? "bad warning" : "bad critical") + " range '" + text + "': " + why;
  return false;
}

std::string read_bounds(Request& r, const Seen& seen) {
  std::string problem;
  // Every range given is read, also one that a later range replaced.
  plugin::Range unused;
  bool given = false;
  for (const plugin::ThresholdEvent& e : seen.events)
    if (e.kind != plugin::ThresholdEvent::path &&
        !read_range(e.text, e.kind == plugin::ThresholdEvent::warn, &unused, &given, problem))
      return problem;
  for (const plugin::PathThresholds& p : plugin::attach_thresholds(seen.events)) {
    plugin::Thresholds& b = r.bounds.emplace_back();
    b.warn_text = p.warn.value_or("");
    b.crit_text = p.crit.value_or("");
    if (!read_range(b.warn_text, true, &b.warn, &b.has_warn, problem) ||
        !read_range(b.crit_text, false, &b.crit, &b.has_crit, problem))
      return problem;
  }
  if (r.interval_ms != 0 && r.interval_ms < kShortestInterval)
    return "-s wants 0 or at least " + std::to_string(kShortestInterval) +
           " ms (counters move in clock ticks of 10 to 16 ms), not " +
           std::to_string(r.interval_ms);
  if (r.since_last && r.interval_ms == 0)
    return "--since-last needs -s greater than 0: a run without a usable stored sample pauses";
  if (uint64_t{r.interval_ms} * r.samples >= uint64_t{r.timeout_s} * 1000)
    return "sampling takes " + std::to_string(uint64_t{r.interval_ms} * r.samples) +
           " ms; the -t timeout of " + std::to_string(r.timeout_s) + " s must be longer";
  return {};
}

}  // namespace

std::string expand_argument_files(std::vector<std::string>& args,
                                  const getoptlib::ReadFileFn& read) {
  std::vector<std::string> words{"check_vantric"};
  words.insert(words.end(), args.begin(), args.end());
  std::string why;
  if (!getoptlib::expand_argument_files(&words, read, &why, {kShortOptions, kLongOptions}))
    return why;
  args.assign(std::make_move_iterator(words.begin() + 1), std::make_move_iterator(words.end()));
  return {};
}

uint32_t command_line_timeout(const std::vector<std::string>& args) {
  getoptlib::argvarray scanned{"check_vantric"};
  scanned.insert(scanned.end(), args.begin(), args.end());
  const int32_t argc = static_cast<int32_t>(scanned.size());
  scanned.emplace_back();
  getoptlib::opterr = false;
  getoptlib::optind = 0;
  int32_t long_index = 0;
  uint32_t seconds = 0;
  for (int32_t c; (c = getoptlib::scan_options(argc, scanned, kShortOptions, kLongOptions,
                                               long_index, false)) != -1;)
    if (c == 't' && !parse_count(getoptlib::optarg, 1, 86400, &seconds)) seconds = 0;
  getoptlib::optind = 0;
  return seconds;
}

Reading read_options(const std::vector<std::string>& args) {
  Reading reading;
  Request& r = reading.request;
  Seen seen;
  getoptlib::argvarray argv{"check_vantric"};
  argv.insert(argv.end(), args.begin(), args.end());
  const int32_t argc = static_cast<int32_t>(argv.size());
  argv.emplace_back();
  getoptlib::opterr = false;
  getoptlib::optind = 0;
  int32_t long_index = 0;
  // Operands come back in place (result 1) rather than being moved behind the
  // options: then the element before each scan is the one the option is read
  // from, and a bad option is named as given.
  for (;;) {
    const int32_t at = getoptlib::optind < 1 ? 1 : getoptlib::optind;
    const std::string element = at < argc ? argv[at] : std::string();
    const int32_t c =
        getoptlib::scan_options(argc, argv, kShortOptions, kLongOptions, long_index, false);
    if (c == -1) break;
    if (c == 1) {
      seen.operands.push_back(getoptlib::optarg);
      continue;
    }
    reading.problem = apply_option(c, getoptlib::optarg, element, r, seen);
    if (!reading.problem.empty()) return reading;
  }
  // After "--" the rest are operands.
  for (int32_t i = getoptlib::optind; i < argc; ++i) seen.operands.push_back(argv[i]);
  if (!r.textfile.empty()) {
    if (seen.format && r.format != Format::openmetrics) {
      reading.problem = "--textfile writes OpenMetrics: it excludes --format=" +
                        std::string(kFormatNames[static_cast<size_t>(r.format)]);
      return reading;
    }
    r.format = Format::openmetrics;
  }
  if (r.interval_gauges && r.format != Format::openmetrics) {
    reading.problem =
        "--interval-gauges shapes OpenMetrics: it wants --format=openmetrics or --textfile";
    return reading;
  }
  if (r.mode != Mode::check) return reading;
  reading.problem = choose_discovery(r, seen);
  if (!reading.problem.empty() || r.mode != Mode::check) return reading;
  reading.problem = name_counters(r, seen);
  if (reading.problem.empty()) reading.problem = read_bounds(r, seen);
  return reading;
}

}  // namespace check_vantric
