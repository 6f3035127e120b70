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
//
// Here the modes are run; options.h reads the command line, sampling.h reads
// the counters into a plugin::CheckResult, plugin/render_nagios.h turns that
// into the lines, finish.h ends the run.
#include <string>
#include <string_view>
#include <vector>

#include "app/check_vantric/finish.h"
#include "app/check_vantric/options.h"
#include "app/check_vantric/sampling.h"
#include "getoptlib/getoptlib.h"
#include "perfdata/perfdata.h"
#include "platform/watchdog.h"
#include "plugin/output.h"
#include "plugin/render_nagios.h"
#include "failure/failure.h"
#include "number_text/number_settings.h"
#include "runtime/program.h"

namespace check_vantric {
namespace {

using plugin::State;

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
    "      --no-cap             percentages may exceed 100 (a process busy on\n"
    "                           several processors); no perfdata maximum then\n"
    "  -v, --verbose            one detail line per counter after the status line\n"
    "      --list [OBJECT]      all objects; or OBJECT's counters and instances\n"
    "      --expand=PATH        the counter paths a wildcard path matches now\n"
    "  -h, --help               this text      -V, --version  the version\n"
    "\n"
    "RANGE: N alert outside 0..N; N: below N; ~:N above N; N:M outside N..M;\n"
    "@N:M inside N..M. Numbers use '.' as decimal point. An empty RANGE (or\n"
    "INSTANCE) counts as not given, for agents that fill in unset arguments.\n"
    "Exit status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (also -h and -V).\n";

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

[[noreturn]] void run_check(const Request& r) {
  const plugin::CheckResult result = check_counters(r);
  finish(static_cast<int>(plugin::overall_state(result)),
         plugin::render_nagios(kService, result, r.verbose));
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
}  // namespace check_vantric

int main(int argc, char** argv) {
  // The watchdog first, with -t's default: option errors are written under it too.
  program_main(argc, argv, &check_vantric::run,
               {{[] { check_vantric::arm_timeout(check_vantric::Request().timeout_s); }, nullptr},
                {&load_number_settings, nullptr},
                {&getoptlib::build_c_runtime_argument_vector, nullptr}},
               &check_vantric::end_unknown);
}
