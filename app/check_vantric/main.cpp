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
// 0. -h and -V exit 3. --format=json writes the same result as one JSON
// object (state and exit status as above); --format=openmetrics writes the
// text a Prometheus server scrapes and exits 0, thresholds left to the
// server (what accumulates as running totals from one collection, no pause;
// --interval-gauges: values over -s); --textfile=PATH puts those series in
// PATH in the text format of the node exporter's textfile collector
// (replaced atomically) and writes one status line:
//   VANTRIC OK - wrote 3 series to /var/lib/prometheus/node-exporter/vantric.prom
//   VANTRIC UNKNOWN - cannot write /x/vantric.prom: create: No such file or directory
// Arguments "@FILE" are replaced by the words of FILE before any option is
// read (getoptlib/argument_file.h); a file that cannot be read or parsed is
// UNKNOWN with the reason.
//
// Here the stages are put together, each returning a value: options.h reads
// the command line into a request or a problem, sampling.h reads the
// counters into a plugin::CheckResult, the rules of plugin/check_result.h
// apply thresholds and labels, a plugin/render_*.h renderer turns it into
// text, and finish.h writes that Ending, once, at the end.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/check_vantric/finish.h"
#include "app/check_vantric/options.h"
#include "app/check_vantric/sampling.h"
#include "getoptlib/getoptlib.h"
#include "perfdata/perfdata.h"
#include "platform/file.h"
#include "platform/watchdog.h"
#include "plugin/agent_text.h"
#include "plugin/render_json.h"
#include "plugin/render_nagios.h"
#include "plugin/render_openmetrics.h"
#include "failure/failure.h"
#include "number_text/number_settings.h"
#include "runtime/program.h"

namespace check_vantric {
namespace {

using plugin::State;

constexpr std::string_view kHelp =
    "check_vantric " VANTRIC_VERSION
    " - checks this computer's performance counters for an agent\n"
    "\n"
    "Usage:\n"
    "  check_vantric -C OBJECT [-I INSTANCE] -P COUNTER [options]\n"
    "  check_vantric -p '\\Object(Instance)\\Counter' [-p PATH ...] [options]\n"
    "  check_vantric --textfile=FILE -p PATH [-p PATH ...] [options]\n"
    "  check_vantric --list [OBJECT]\n"
    "  check_vantric --expand PATH\n"
    "  check_vantric @ARGFILE [options]\n"
    "  check_vantric -h | -V\n"
    "\n"
    "Options:\n"
    "  -C, --object=OBJECT      performance object, e.g. Processor\n"
    "  -I, --instance=INSTANCE  its instance; '*' matches any run of characters\n"
    "  -P, --counter=COUNTER    counter of the object, e.g. '% Processor Time'\n"
    "  -p, --path=PATH          whole counter path, '*' allowed; may repeat\n"
    "  -w, --warning=RANGE      WARNING when the value alerts against RANGE\n"
    "  -c, --critical=RANGE     CRITICAL when the value alerts against RANGE;\n"
    "                           both apply to the paths after them, and when\n"
    "                           given after the last path to every path\n"
    "                           without a range of its own\n"
    "  -l, --label=LABEL        performance-data label (default: the counter path)\n"
    "  -s, --interval=MS        milliseconds between samples (default 1000;\n"
    "                           0 reads gauges from a single sample; else at\n"
    "                           least 100: counters move in 10-16 ms ticks)\n"
    "  -n, --samples=N          average over N intervals (default 1)\n"
    "  -t, --timeout=SECONDS    bound on the whole run (default 10)\n"
    "      --missing=STATE      state when a wildcard matches nothing or the\n"
    "                           instance does not exist (default UNKNOWN)\n"
    "      --no-cap             percentages may exceed 100 (a process busy on\n"
    "                           several processors); no perfdata maximum then\n"
    "  -v, --verbose            one detail line per counter after the status line\n"
    "      --list [OBJECT]      all objects; or OBJECT's counters and instances\n"
    "      --expand=PATH        the counter paths a wildcard path matches now\n"
    "      --format=FORMAT      nagios (default), json (one object, same exit\n"
    "                           status) or openmetrics (exit 0, no thresholds)\n"
    "      --textfile=FILE      replace FILE atomically with the same series in\n"
    "                           the node exporter's text format, one status\n"
    "                           line on standard output\n"
    "      --interval-gauges    openmetrics and --textfile: every counter a\n"
    "                           gauge of its value over -s (as a check reads\n"
    "                           it), not running totals from one collection\n"
    "      --since-last         the value over the time since the last run of\n"
    "                           the same check, from its state file, no pause\n"
    "      --state-dir=DIR      where those state files live (default\n"
    "                           $NAGIOS_PLUGIN_STATE_DIRECTORY, else the system's)\n"
    "      --max-age=SECONDS    oldest stored sample used (default 3600)\n"
    "  @ARGFILE                 the arguments written in ARGFILE, shell-quoted\n"
    "  -h, --help               this text      -V, --version  the version\n"
    "\n"
    "RANGE: N alert outside 0..N; N: below N; ~:N above N; N:M outside N..M;\n"
    "@N:M inside N..M. Numbers use '.' as decimal point. An empty RANGE (or\n"
    "INSTANCE) counts as not given, for agents that fill in unset arguments.\n"
    "Exit status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (also -h and -V);\n"
    "for openmetrics and --textfile 0 when the text was written, else 3.\n";

// A discovery call that failed: a system without it says which call it lacks.
Ending discovery_problem(perfdata::Status status, perfdata::Discovery operation,
                         std::string_view subject) {
  if (status == perfdata::NOT_IMPLEMENTED)
    return unknown("this system does not provide " + perfdata::missing_call(operation));
  return unknown(std::string(subject) + ": " + perfdata::status_words(status));
}

Ending run_list(const Request& r) {
  const bool json = r.format == Format::json;
  std::string out;
  if (r.list_object.empty()) {
    std::vector<std::string> objects;
    perfdata::Status st = perfdata::enum_objects(&objects);
    if (st != 0) return discovery_problem(st, perfdata::Discovery::object_enumeration, "--list");
    if (json) return {0, plugin::render_json_list(objects)};
    for (const std::string& o : objects) out += plugin::listing_line({o});
    return {0, out};
  }
  std::vector<perfdata::CounterInfo> counters;
  std::vector<std::string> instances;
  perfdata::Status st = perfdata::enum_object_items(r.list_object.c_str(), &counters, &instances);
  if (st != 0)
    return discovery_problem(st, perfdata::Discovery::counter_enumeration, r.list_object);
  if (json) {
    std::vector<plugin::ListedCounter> listed;
    for (const perfdata::CounterInfo& c : counters)
      listed.push_back({c.name, perfdata::kind_word(c.kind), c.unit, c.explanation});
    return {0, plugin::render_json_list(r.list_object, listed, instances)};
  }
  out.reserve(counters.size() * 96 + instances.size() * 16);
  for (const perfdata::CounterInfo& c : counters)
    out += plugin::listing_line(
        {"counter", c.name, perfdata::kind_word(c.kind), c.unit, c.explanation});
  for (const std::string& i : instances) out += plugin::listing_line({"instance", i});
  return {0, out};
}

Ending run_expand(const Request& r) {
  std::vector<std::string> paths;
  perfdata::Status st = perfdata::expand_wildcard_path(r.expand_path.c_str(), &paths);
  if (st != 0) return discovery_problem(st, perfdata::Discovery::wildcard_expansion, r.expand_path);
  if (paths.empty()) return unknown(r.expand_path + ": no match");
  if (r.format == Format::json) return {0, plugin::render_json_expand(r.expand_path, paths)};
  std::string out;
  for (const std::string& p : paths) out += plugin::listing_line({p});
  return {0, out};
}

// The OpenMetrics text put in place of r.textfile; one status line says how it went.
Ending write_textfile(const Request& r, const std::string& text) {
  std::string why;
  if (!platform::replace_file(r.textfile, text, &why))
    return unknown("cannot write " + r.textfile + ": " + why);
  size_t series = 0;  // the lines that are not metadata
  for (size_t at = 0; at < text.size(); ++at)
    if ((at == 0 || text[at - 1] == '\n') && text[at] != '#') ++series;
  return {0,
          plugin::status_line(kService, State::ok,
                              "wrote " + std::to_string(series) + " series to " + r.textfile, {}) +
              "\n"};
}

Ending run_check(const Request& r) {
  plugin::CheckResult result = check_counters(r);
  // A check that could not run reads the same in every format, as a bad option does.
  if (!result.problem.empty()) return unknown(result.problem);
  plugin::apply_thresholds(r.bounds, result);
  plugin::assign_labels(r.label, result.counters);
  if (r.format == Format::openmetrics) {
    if (!r.textfile.empty())
      return write_textfile(r, plugin::render_openmetrics(result, plugin::TextFormat::prometheus));
    return {0, plugin::render_openmetrics(result)};
  }
  const int status = static_cast<int>(plugin::overall_state(result));
  if (r.format == Format::json) return {status, plugin::render_json(kService, result)};
  return {status, plugin::render_nagios(kService, result, r.verbose)};
}

Ending respond() {
  std::vector<std::string> args(getoptlib::argv.begin() + 1,
                                getoptlib::argv.begin() + getoptlib::argc);
  if (const uint32_t seconds = command_line_timeout(args); seconds != 0) arm_timeout(seconds);
  const std::string unreadable = expand_argument_files(args, platform::read_file);
  if (!unreadable.empty()) return unknown(unreadable);
  const Reading reading = read_options(args);
  if (!reading.problem.empty()) return unknown(reading.problem);
  const Request& r = reading.request;
  switch (r.mode) {
    case Mode::help:
      return {3, std::string(kHelp)};
    case Mode::version:
      return {3, "check_vantric " VANTRIC_VERSION "\n"};
    default:
      break;
  }
  arm_timeout(r.timeout_s);
  if (r.mode == Mode::list) return run_list(r);
  if (r.mode == Mode::expand) return run_expand(r);
  return run_check(r);
}

void run() {
  Ending ending;
  try {
    ending = respond();
  } catch (Exception* failure) {
    std::string message = failure->message();
    release_failure(failure);
    ending = unknown("internal failure: " + message);
  }
  finish(ending);
}

}  // namespace
}  // namespace check_vantric

int main(int argc, char** argv) {
  // The watchdog first, with -t's default: option errors are written under it too.
  program_main(argc, argv, &check_vantric::run,
               {{[] { check_vantric::arm_timeout(check_vantric::Request().timeout_s); }, nullptr},
                {&load_number_settings, nullptr},
                {&getoptlib::build_c_runtime_argument_vector, nullptr}},
               &check_vantric::end_unknown);
}
