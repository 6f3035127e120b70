// check_vantric: checks performance counters of the local computer for a
// monitoring agent (NRPE, Icinga 2), and shows what there is to check.
//
//   check_vantric -C System -P Threads -w 2000 -c 4000
//   VANTRIC OK - \System\Threads = 812 | '\System\Threads'=812;2000;4000
//
// One status line (then, with -v, one detail line per counter) and the exit
// status 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN. Every failure is UNKNOWN
// with a line saying what went wrong; a bad option or range is reported
// before any sampling. --list and --expand write one name per line and exit
// 0. -h and -V exit 3.
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "getoptlib/getoptlib.h"
#include "perfdata/perfdata.h"
#include "platform/watchdog.h"
#include "plugin/output.h"
#include "plugin/range.h"
#include "textsvc/console_output.h"
#include "textsvc/failure.h"
#include "textsvc/number_text.h"
#include "textsvc/program.h"

namespace {

using plugin::State;

constexpr std::string_view kService = "VANTRIC";
constexpr uint32_t kMaxIntervalMs = 3600000;
constexpr uint32_t kMaxSamples = 1000;
constexpr uint32_t kMaxTimeoutS = 86400;

enum class Mode { check, list, expand, help, version };

struct Request {
  Mode mode = Mode::check;
  std::string object, instance, counter;
  std::vector<std::string> paths;
  std::string warn_text, crit_text;
  bool has_warn = false, has_crit = false;
  plugin::Range warn, crit;
  std::string label;
  uint32_t interval_ms = 1000;
  uint32_t samples = 1;
  uint32_t timeout_s = 10;
  State missing = State::unknown;
  bool verbose = false;
  std::string expand_path;
  std::string list_object;
};

// One counter being checked.
struct Item {
  explicit Item(std::string counter_path) : path(std::move(counter_path)) {}
  std::string path;
  bool matched = false;  // found by a wildcard: may vanish before it is read
  size_t source = 0;     // index of the wildcard path it matched
  perfdata::Counter counter = nullptr;
  perfdata::CounterInfo info;
  std::string problem;       // non-empty: no value; the reason
  bool vanished = false;     // matched, then gone at the add (a process that ended)
  bool read_failed = false;  // matched, then no valid reading
  State state = State::ok;
  double sum = 0.0;
  double value = 0.0;
};

// Writes `text` (whole lines) and ends the run with `state`'s exit status.
// The watchdog stays armed until the last byte is out, so a reader that does
// not read cannot hold the run past -t; the claim keeps it from adding its
// line to a part (it then ends the run with 3 alone).
[[noreturn]] void finish(int status, const std::string& text) {
  if (!platform::claim_output()) end_program(3);
  try {
    write_text(text);
    flush_output();
    check_io();
  } catch (Exception* failure) {
    // Standard output itself failed: nothing more can be said there.
    release_failure(failure);
    end_program(3);
  }
  platform::disarm_watchdog();
  end_program(status);
}

void arm_timeout(uint32_t seconds) {
  platform::arm_watchdog(
      seconds * 1000,
      plugin::status_line(kService, State::unknown,
                          "timed out after " + std::to_string(seconds) + " s", {}) +
          "\n",
      3);
}

// Every other ending (a failure's report, a runtime error line, a fault) is
// one UNKNOWN line too, built in fixed storage: the heap may be gone.
void end_unknown(const char* text, std::size_t length, int32_t) {
  static char line[kReportCapacity + 64];
  const std::size_t size =
      plugin::status_line_into(kService, State::unknown, {text, length}, line, sizeof line);
  platform::end_with_line({line, size}, 3);
}

[[noreturn]] void fail(const std::string& why) {
  finish(3, plugin::status_line(kService, State::unknown, why, {}) + "\n");
}

constexpr std::string_view kHelp =
    "check_vantric " VANTRIC_VERSION
    " - checks performance counters of this computer for a monitoring agent\n"
    "\n"
    "Usage:\n"
    "  check_vantric -C OBJECT [-I INSTANCE] -P COUNTER [options]\n"
    "  check_vantric -p '\\Object(Instance)\\Counter' [-p PATH ...] [options]\n"
    "  check_vantric --list [OBJECT]\n"
    "  check_vantric --expand PATH\n"
    "  check_vantric -h | -V\n"
    "\n"
    "Options:\n"
    "  -C, --object=OBJECT      performance object, e.g. Processor\n"
    "  -I, --instance=INSTANCE  its instance; '*' matches any run of characters\n"
    "  -P, --counter=COUNTER    counter of the object, e.g. '% Processor Time'\n"
    "  -p, --path=PATH          whole counter path, '*' allowed; may repeat\n"
    "  -w, --warning=RANGE      WARNING when the value alerts against RANGE\n"
    "  -c, --critical=RANGE     CRITICAL when the value alerts against RANGE\n"
    "  -l, --label=LABEL        performance-data label (default: the counter path)\n"
    "  -s, --interval=MS        milliseconds between samples (default 1000;\n"
    "                           0 reads gauges from a single sample)\n"
    "  -n, --samples=N          average over N intervals (default 1)\n"
    "  -t, --timeout=SECONDS    bound on the whole run (default 10)\n"
    "      --missing=STATE      state when a wildcard matches nothing or the\n"
    "                           instance does not exist (default UNKNOWN)\n"
    "  -v, --verbose            one detail line per counter after the status line\n"
    "      --list [OBJECT]      all objects; or OBJECT's counters and instances\n"
    "      --expand=PATH        the counter paths a wildcard path matches now\n"
    "  -h, --help               this text      -V, --version  the version\n"
    "\n"
    "RANGE: N alert outside 0..N; N: below N; ~:N above N; N:M outside N..M;\n"
    "@N:M inside N..M. Numbers use '.' as decimal point. An empty RANGE (or\n"
    "INSTANCE) counts as not given, for agents that fill in unset arguments.\n"
    "Exit status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (also -h and -V).\n";

bool parse_count(std::string_view text, uint32_t low, uint32_t high, uint32_t* out) {
  uint32_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
  if (v < low || v > high) return false;
  *out = v;
  return true;
}

enum LongOnly : int32_t { kMissing = 1000, kList, kExpand };

Request read_options() {
  using getoptlib::option;
  static const option long_table[] = {{"object", 1, nullptr, 'C'},
                                      {"instance", 1, nullptr, 'I'},
                                      {"counter", 1, nullptr, 'P'},
                                      {"path", 1, nullptr, 'p'},
                                      {"warning", 1, nullptr, 'w'},
                                      {"critical", 1, nullptr, 'c'},
                                      {"label", 1, nullptr, 'l'},
                                      {"interval", 1, nullptr, 's'},
                                      {"samples", 1, nullptr, 'n'},
                                      {"timeout", 1, nullptr, 't'},
                                      {"missing", 1, nullptr, kMissing},
                                      {"verbose", 0, nullptr, 'v'},
                                      {"list", 0, nullptr, kList},
                                      {"expand", 1, nullptr, kExpand},
                                      {"help", 0, nullptr, 'h'},
                                      {"version", 0, nullptr, 'V'},
                                      {"", 0, nullptr, 0}};
  Request r;
  bool list = false, expand = false;
  getoptlib::opterr = false;
  getoptlib::optind = 0;
  int32_t long_index = 0;
  for (;;) {
    const int32_t at = getoptlib::optind < 1 ? 1 : getoptlib::optind;
    const std::string element = at < getoptlib::argc ? getoptlib::argv[at] : std::string();
    const int32_t c =
        getoptlib::scan_options(getoptlib::argc, getoptlib::argv, ":C:I:P:p:w:c:l:s:n:t:vhV",
                                long_table, long_index, false);
    if (c == -1) break;
    const std::string arg = getoptlib::optarg;
    const bool is_long = element.starts_with("--");
    switch (c) {
      case 'C':
        r.object = arg;
        break;
      case 'I':
        r.instance = arg;
        break;
      case 'P':
        r.counter = arg;
        break;
      case 'p':
        r.paths.push_back(arg);
        break;
      case 'w':
        r.warn_text = arg;
        r.has_warn = !arg.empty();
        break;
      case 'c':
        r.crit_text = arg;
        r.has_crit = !arg.empty();
        break;
      case 'l':
        r.label = arg;
        break;
      case 's':
        if (!parse_count(arg, 0, kMaxIntervalMs, &r.interval_ms))
          fail("-s wants milliseconds from 0 to 3600000, not '" + arg + "'");
        break;
      case 'n':
        if (!parse_count(arg, 1, kMaxSamples, &r.samples))
          fail("-n wants a count of intervals from 1 to 1000, not '" + arg + "'");
        break;
      case 't':
        if (!parse_count(arg, 1, kMaxTimeoutS, &r.timeout_s))
          fail("-t wants seconds from 1 to 86400, not '" + arg + "'");
        break;
      case kMissing:
        if (!plugin::parse_state(arg, &r.missing))
          fail("--missing wants OK, WARNING, CRITICAL or UNKNOWN, not '" + arg + "'");
        break;
      case 'v':
        r.verbose = true;
        break;
      case kList:
        list = true;
        break;
      case kExpand:
        expand = true;
        r.expand_path = arg;
        break;
      case 'h':
        r.mode = Mode::help;
        break;
      case 'V':
        if (r.mode != Mode::help) r.mode = Mode::version;
        break;
      case ':':
        fail(is_long ? "option " + element.substr(0, element.find('=')) + " wants an argument"
                     : std::string("option -") + getoptlib::optopt + " wants an argument");
      default:
        fail(is_long ? "unknown option " + element.substr(0, element.find('='))
                     : std::string("unknown option -") + getoptlib::optopt);
    }
  }
  if (r.mode != Mode::check) return r;
  std::vector<std::string> operands(getoptlib::argv.begin() + getoptlib::optind,
                                    getoptlib::argv.begin() + getoptlib::argc);
  if (list && expand) fail("--list and --expand exclude each other");
  if (list) {
    if (operands.size() > 1) fail("--list takes at most one object");
    r.mode = Mode::list;
    if (!operands.empty()) r.list_object = operands[0];
    return r;
  }
  if (!operands.empty()) fail("unexpected argument '" + operands[0] + "'");
  if (expand) {
    r.mode = Mode::expand;
    return r;
  }
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
  std::string why;
  if (r.has_warn && !plugin::parse_range(r.warn_text, &r.warn, &why))
    fail("bad warning range '" + r.warn_text + "': " + why);
  if (r.has_crit && !plugin::parse_range(r.crit_text, &r.crit, &why))
    fail("bad critical range '" + r.crit_text + "': " + why);
  if (uint64_t{r.interval_ms} * r.samples >= uint64_t{r.timeout_s} * 1000)
    fail("sampling takes " + std::to_string(uint64_t{r.interval_ms} * r.samples) +
         " ms; the -t timeout of " + std::to_string(r.timeout_s) + " s must be longer");
  return r;
}

std::string status_words(perfdata::Status status) {
  switch (status) {
    case perfdata::CSTATUS_NO_OBJECT:
      return "no such object";
    case perfdata::CSTATUS_NO_COUNTER:
      return "no such counter";
    case perfdata::CSTATUS_NO_INSTANCE:
      return "no such instance";
    case perfdata::CSTATUS_NO_MACHINE:
      return "no such computer";
    case perfdata::CSTATUS_ITEM_NOT_VALIDATED:
      return "counter not validated";
    case perfdata::CSTATUS_INVALID_DATA:
      return "data not valid yet";
    case perfdata::CSTATUS_BAD_COUNTERNAME:
      return "malformed counter path";
    case perfdata::NOT_IMPLEMENTED:
      return "not provided by this system";
    default:
      break;
  }
  return "status 0x" + int_to_hex(status, 8);
}

// What a caller is told when the system lacks a discovery call.
[[noreturn]] void fail_discovery(perfdata::Status status, std::string_view what,
                                 std::string_view call, std::string_view subject) {
  if (status == perfdata::NOT_IMPLEMENTED)
    fail("this system does not provide " + std::string(what) + " (" + std::string(call) + ")");
  fail(std::string(subject) + ": " + status_words(status));
}

[[noreturn]] void run_list(const Request& r) {
  std::string out;
  if (r.list_object.empty()) {
    std::vector<std::string> objects;
    perfdata::Status st = perfdata::enum_objects(&objects);
    if (st != 0) fail_discovery(st, "object enumeration", "PdhEnumObjectsA", "--list");
    for (const std::string& o : objects) out += o + "\n";
    finish(0, out);
  }
  std::vector<perfdata::CounterInfo> counters;
  std::vector<std::string> instances;
  perfdata::Status st = perfdata::enum_object_items(r.list_object.c_str(), &counters, &instances);
  if (st != 0) fail_discovery(st, "counter enumeration", "PdhEnumObjectItemsA", r.list_object);
  out.reserve(counters.size() * 96 + instances.size() * 16);
  for (const perfdata::CounterInfo& c : counters) {
    out += "counter\t" + c.name + "\t" + perfdata::kind_word(c.kind) + "\t" + c.unit + "\t" +
           c.explanation + "\n";
  }
  for (const std::string& i : instances) out += "instance\t" + i + "\n";
  finish(0, out);
}

[[noreturn]] void run_expand(const Request& r) {
  std::vector<std::string> paths;
  perfdata::Status st = perfdata::expand_wildcard_path(r.expand_path.c_str(), &paths);
  if (st != 0) fail_discovery(st, "wildcard expansion", "PdhExpandWildCardPathA", r.expand_path);
  if (paths.empty()) fail(r.expand_path + ": no match");
  std::string out;
  for (const std::string& p : paths) out += p + "\n";
  finish(0, out);
}

// The instance of a path ("\Process(a)\X" -> "a"), else its counter.
std::string distinguishing_part(const std::string& path) {
  size_t open = path.find('(');
  size_t close = path.rfind(")\\");
  if (open != std::string::npos && close != std::string::npos && close > open)
    return path.substr(open + 1, close - open - 1);
  return path.substr(path.rfind('\\') + 1);
}

bool needs_two_samples(perfdata::CounterKind kind) {
  return kind == perfdata::CounterKind::rate || kind == perfdata::CounterKind::average ||
         kind == perfdata::CounterKind::percent;
}

std::vector<Item> resolve(const Request& r, std::string* no_match) {
  std::vector<Item> items;
  for (size_t source = 0; source < r.paths.size(); ++source) {
    const std::string& p = r.paths[source];
    if (p.find('*') == std::string::npos) {
      items.emplace_back(p);
      continue;
    }
    std::vector<std::string> found;
    perfdata::Status st = perfdata::expand_wildcard_path(p.c_str(), &found);
    if (st == perfdata::NOT_IMPLEMENTED)
      fail_discovery(st, "wildcard expansion", "PdhExpandWildCardPathA", p);
    if (st != 0) {
      Item bad(p);
      bad.problem = status_words(st);
      bad.state = State::unknown;
      items.push_back(bad);
    } else if (found.empty()) {
      if (!no_match->empty()) *no_match += ", ";
      *no_match += p;
    }
    for (std::string& f : found) {
      Item& item = items.emplace_back(std::move(f));
      item.matched = true;
      item.source = source;
    }
  }
  return items;
}

void sample(const Request& r, std::vector<Item>& items) {
  char name[64] = {};
  uint32_t size = sizeof name;
  std::string prefix = "\\\\";
  if (perfdata::get_computer_name(name, &size)) prefix.append(name, size);

  perfdata::Query query = nullptr;
  perfdata::Status st = perfdata::open_query(&query);
  if (st != 0) fail("cannot open a performance-data query: " + status_words(st));
  size_t live = 0;
  for (Item& item : items) {
    if (!item.problem.empty()) continue;
    st = perfdata::add_english_counter(query, (prefix + item.path).c_str(), &item.counter);
    if (st != 0) {
      item.problem = status_words(st);
      item.state = st == perfdata::CSTATUS_NO_INSTANCE ? r.missing : State::unknown;
      item.vanished = item.matched && st == perfdata::CSTATUS_NO_INSTANCE;
      item.counter = nullptr;
      continue;
    }
    if (perfdata::get_counter_info(item.counter, &item.info) != 0) item.info = {};
    if (item.info.unit.empty() && item.info.kind == perfdata::CounterKind::percent)
      item.info.unit = "%";
    if (r.interval_ms == 0 && needs_two_samples(item.info.kind)) {
      item.problem = std::string("is a ") + perfdata::kind_word(item.info.kind) +
                     " counter: it needs two samples (-s greater than 0)";
      item.state = State::unknown;
      continue;
    }
    ++live;
  }
  if (live > 0) {
    perfdata::collect_query_data(query);
    const uint32_t rounds = r.interval_ms == 0 ? 1 : r.samples;
    for (uint32_t round = 0; round < rounds; ++round) {
      if (r.interval_ms != 0) {
        perfdata::sleep_ms(r.interval_ms);
        perfdata::collect_query_data(query);
      }
      for (Item& item : items) {
        if (!item.problem.empty()) continue;
        perfdata::CounterValue v;
        st = perfdata::get_formatted_counter_value(item.counter, perfdata::FMT_DOUBLE, &v);
        // Backends report an unusable reading either way: as the call's
        // status or as the record's.
        const perfdata::Status bad = st != 0                                   ? st
                                     : v.c_status > perfdata::CSTATUS_NEW_DATA ? v.c_status
                                                                               : 0;
        if (bad == perfdata::CSTATUS_INVALID_DATA && r.interval_ms == 0) {
          item.problem = "no value from one sample (-s greater than 0)";
        } else if (bad != 0) {
          item.problem = status_words(bad);
        } else if (!std::isfinite(v.value)) {
          item.problem = "the value is not a finite number";
        } else {
          item.sum += v.value;
        }
        if (!item.problem.empty()) {
          item.state = State::unknown;
          item.read_failed = item.matched;
        }
      }
    }
    for (Item& item : items)
      if (item.problem.empty()) item.value = item.sum / rounds;
  }
  perfdata::close_query(query);
  // A matched instance without a reading ended between expansion and
  // sampling, as processes do, when others of its path were read; when none
  // were, the fault is the counter's and stays reported.
  std::vector<bool> path_read(r.paths.size(), false);
  for (const Item& item : items)
    if (item.matched && item.problem.empty()) path_read[item.source] = true;
  std::erase_if(items, [&path_read](const Item& item) {
    return item.vanished || (item.read_failed && path_read[item.source]);
  });
}

std::string item_text(const Item& item) {
  if (!item.problem.empty()) return item.path + ": " + item.problem;
  return item.path + " = " + plugin::number_text(item.value) + item.info.unit;
}

[[noreturn]] void run_check(const Request& r) {
  std::string no_match;
  std::vector<Item> items = resolve(r, &no_match);
  const size_t matched = items.size();
  sample(r, items);
  // Every match ended before it could be read: as if none had matched.
  if (items.empty() && matched > 0) {
    no_match.clear();
    for (const std::string& p : r.paths) no_match += (no_match.empty() ? "" : ", ") + p;
  }

  State worst = State::ok;
  std::vector<std::string> perf;
  std::vector<const Item*> not_ok;
  const bool many = items.size() > 1;
  for (Item& item : items) {
    if (item.problem.empty()) {
      if (r.has_crit && plugin::range_alerts(r.crit, item.value))
        item.state = State::critical;
      else if (r.has_warn && plugin::range_alerts(r.warn, item.value))
        item.state = State::warning;
      // sample() gave every percent counter the unit '%'.
      const bool percent = item.info.unit == "%";
      std::string label = r.label.empty() ? item.path
                          : many          ? r.label + "_" + distinguishing_part(item.path)
                                          : r.label;
      perf.push_back(plugin::perfdata_item(
          label, item.value, item.info.unit, r.has_warn ? r.warn_text : "",
          r.has_crit ? r.crit_text : "", percent ? "0" : "", percent ? "100" : ""));
    }
    worst = plugin::worse(worst, item.state);
    if (item.state != State::ok) not_ok.push_back(&item);
  }

  std::string summary;
  if (!no_match.empty()) {
    worst = plugin::worse(worst, r.missing);
    summary = no_match + ": no match";
  }
  if (items.size() == 1 && no_match.empty()) {
    summary = item_text(items[0]);
  } else if (!items.empty()) {
    if (!summary.empty()) summary += "; ";
    if (not_ok.empty() && items.size() <= 5) {
      for (size_t i = 0; i < items.size(); ++i) summary += (i ? ", " : "") + item_text(items[i]);
    } else if (not_ok.empty()) {
      summary += "all " + std::to_string(items.size()) + " counters OK";
    } else {
      summary += std::to_string(not_ok.size()) + " of " + std::to_string(items.size()) +
                 " counters not OK: ";
      for (size_t i = 0; i < not_ok.size(); ++i)
        summary +=
            (i ? ", " : "") + item_text(*not_ok[i]) + " (" + state_word(not_ok[i]->state) + ")";
    }
  }

  std::string out = plugin::status_line(kService, worst, summary, perf) + "\n";
  if (r.verbose) {
    for (const Item& item : items) {
      out += item_text(item) + " " + plugin::state_word(item.state);
      if (item.problem.empty() && !item.info.name.empty()) {
        out += std::string(" [") + perfdata::kind_word(item.info.kind);
        if (!item.info.explanation.empty()) out += ": " + item.info.explanation;
        out += "]";
      }
      out += "\n";
    }
  }
  finish(static_cast<int>(worst), out);
}

void run() {
  try {
    const Request r = read_options();
    switch (r.mode) {
      case Mode::help:
        finish(3, std::string(kHelp));
      case Mode::version:
        finish(3, "check_vantric " VANTRIC_VERSION "\n");
      default:
        break;
    }
    arm_timeout(r.timeout_s);
    if (r.mode == Mode::list) run_list(r);
    if (r.mode == Mode::expand) run_expand(r);
    run_check(r);
  } catch (Exception* failure) {
    std::string message = failure->message();
    release_failure(failure);
    fail("internal failure: " + message);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The watchdog first, with -t's default: option errors are written under it too.
  program_main(argc, argv, &run,
               {{[] { arm_timeout(Request().timeout_s); }, nullptr},
                {&getoptlib::build_c_runtime_argument_vector, nullptr}},
               &end_unknown);
}
