// check_vantric's command line read into a request, or the one problem that
// stops the run: a table of argument vectors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/check_vantric/options.h"

namespace {

using check_vantric::Request;

// The request in one line: mode, each path with the ranges that apply to
// it, then what differs from the defaults.
std::string shown(const Request& r) {
  const char* modes[] = {"check", "list", "expand", "help", "version"};
  std::string s = modes[static_cast<int>(r.mode)] + r.list_object + r.expand_path;
  for (size_t i = 0; i < r.paths.size(); ++i) {
    const plugin::Thresholds& b = r.bounds.at(i);
    s += " " + r.paths[i] + "[" + (b.has_warn ? b.warn_text : "") + "," +
         (b.has_crit ? b.crit_text : "") + "]";
  }
  if (r.interval_ms != 1000) s += " s" + std::to_string(r.interval_ms);
  if (r.samples != 1) s += " n" + std::to_string(r.samples);
  if (r.timeout_s != 10) s += " t" + std::to_string(r.timeout_s);
  if (r.missing != plugin::State::unknown) s += std::string(" missing ") + state_word(r.missing);
  if (r.format != check_vantric::Format::nagios) s += " format" + std::to_string(int(r.format));
  if (!r.textfile.empty()) s += " textfile " + r.textfile;
  if (!r.label.empty()) s += " label " + r.label;
  if (r.verbose) s += " -v";
  if (r.no_cap) s += " no-cap";
  return s;
}

TEST(ReadOptions, RequestOrTheProblem) {
  struct Row {
    int line;
    std::vector<std::string> args;
    std::string want;  // shown(request), or "problem: " and the message
  } rows[] = {
      {__LINE__,
       {"-C", "P", "-I", "_Total", "-P", "% T", "-w", "85", "-n", "3"},
       "check \\P(_Total)\\% T[85,]"
       " n3"},
      {__LINE__,
       {"-C", "S", "-I", "", "-P", "T", "--crit=", "-s0", "-t", "5"},
       "check \\S\\T[,] s0 t5"},
      // Ranges attach by order; those after the last path go to paths without one.
      {__LINE__,
       {"-w", "1", "-p", "\\A\\x", "-w", "2", "-p", "\\B\\y", "-c", "3", "-vl", "L"},
       "check \\A\\x[1,3] \\B\\y[2,3] label L -v"},
      {__LINE__,
       {"-c", "9", "-C", "A", "-P", "x", "-c", "", "-I", "i", "--missing=warning"},
       "check \\A(i)\\x[,9] missing WARNING"},
      {__LINE__,
       {"--textfile", "f.prom", "-p", "\\A\\x", "--no-cap"},
       "check \\A\\x[,] format1 textfile f.prom no-cap"},
      {__LINE__, {"--list", "Processor", "--format=json"}, "listProcessor format2"},
      {__LINE__, {"--exp", "\\P(*)\\C"}, "expand\\P(*)\\C"},
      {__LINE__, {"-V", "-h", "-s", "5"}, "help s5"},
      {__LINE__, {"-x", "-s", "5"}, "problem: unknown option -x"},
      {__LINE__, {"--bogus=1"}, "problem: unknown option --bogus"},
      {__LINE__, {"-p", "\\A\\x", "--label"}, "problem: option --label wants an argument"},
      {__LINE__, {"-p", "\\A\\x", "-t"}, "problem: option -t wants an argument"},
      {__LINE__,
       {"-p", "\\A\\x", "-s", "50"},
       "problem: -s wants 0 or at least 100 ms (counters move in clock ticks of 10 to 16 ms), "
       "not 50"},
      {__LINE__, {"-n", "0"}, "problem: -n wants a count of intervals from 1 to 1000, not '0'"},
      {__LINE__, {"-t", "1x"}, "problem: -t wants seconds from 1 to 86400, not '1x'"},
      {__LINE__,
       {"-p", "\\A\\x", "-t", "2", "-n", "2"},
       "problem: sampling takes 2000 ms; the -t timeout of 2 s must be longer"},
      {__LINE__,
       {"--missing", "maybe"},
       "problem: --missing wants OK, WARNING, CRITICAL or UNKNOWN, not 'maybe'"},
      {__LINE__, {"--list", "--expand", "x"}, "problem: --list and --expand exclude each other"},
      {__LINE__, {"--list", "a", "b"}, "problem: --list takes at most one object"},
      {__LINE__, {"-p", "\\A\\x", "extra"}, "problem: unexpected argument 'extra'"},
      {__LINE__, {"-C", "A", "-P", "x", "-p", "\\B\\y"}, "problem: give -C/-I/-P or -p, not both"},
      {__LINE__, {"-C", "A"}, "problem: -C and -P name the counter together"},
      {__LINE__, {"-w", "5"}, "problem: no counter given (-C and -P, or -p; see --help)"},
      {__LINE__,
       {"-p", "A\\x"},
       "problem: 'A\\x' is not a counter path like \\Object(Instance)\\Counter"},
      // Every range is read, also one that a later one replaced.
      {__LINE__,
       {"-w", "x", "-w", "1", "-p", "\\A\\x"},
       "problem: bad warning range 'x': 'x' is not a decimal number"},
      {__LINE__,
       {"--format=xml"},
       "problem: --format wants nagios, openmetrics or json, not 'xml'"},
      {__LINE__,
       {"--textfile=f", "--format=json"},
       "problem: --textfile writes OpenMetrics: it excludes --format=json"},
      {__LINE__,
       {"--textfile=f", "--list"},
       "problem: --textfile writes a check's result, not --list or --expand"},
      {__LINE__,
       {"--format=openmetrics", "--list"},
       "problem: --list and --expand have no OpenMetrics form (--format=nagios or json)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const check_vantric::Reading reading = check_vantric::read_options(row.args);
    EXPECT_EQ(reading.problem.empty() ? shown(reading.request) : "problem: " + reading.problem,
              row.want);
  }
}

TEST(ReadOptions, TimeoutOfTheCommandLineBeforeTheFilesAreRead) {
  EXPECT_EQ(check_vantric::command_line_timeout({"@f", "-t", "2", "--timeout=3"}), 3u);
  EXPECT_EQ(check_vantric::command_line_timeout({"-t", "2", "-t", "0"}), 0u);
  EXPECT_EQ(check_vantric::command_line_timeout({"-c", "-t", "@f"}), 0u);
}

}  // namespace
