// check_vantric's command line read into a request, or the one problem that
// stops the run: a table of argument vectors (the end-to-end suite shows the
// other problems' lines).
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
  std::string s = modes[static_cast<int>(r.mode)];
  for (size_t i = 0; i < r.paths.size(); ++i) {
    const plugin::Thresholds& b = r.bounds.at(i);
    s += " " + r.paths[i] + "[" + (b.has_warn ? b.warn_text : "") + "," +
         (b.has_crit ? b.crit_text : "") + "]";
  }
  if (r.interval_ms != 1000) s += " s" + std::to_string(r.interval_ms);
  if (r.samples != 1) s += " n" + std::to_string(r.samples);
  if (r.timeout_s != 10) s += " t" + std::to_string(r.timeout_s);
  if (r.missing != plugin::State::unknown) s += std::string(" missing ") + state_word(r.missing);
  if (!r.label.empty()) s += " label " + r.label;
  if (r.verbose) s += " -v";
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
       "check \\P(_Total)\\% T[85,] n3"},
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
      {__LINE__, {"-V", "-h", "-s", "5"}, "help s5"},
      // The first problem counts; those the end-to-end suite does not show:
      {__LINE__, {"-x", "-s", "5"}, "problem: unknown option -x"},
      {__LINE__, {"--list", "--expand", "x"}, "problem: --list and --expand exclude each other"},
      {__LINE__, {"--list", "a", "b"}, "problem: --list takes at most one object"},
      {__LINE__,
       {"--textfile=f", "--list"},
       "problem: --textfile writes a check's result, not --list or --expand"},
      {__LINE__,
       {"--since-last", "-s0", "-p", "\\A\\x"},
       "problem: --since-last needs -s greater than 0: a run without a usable stored sample "
       "pauses"},
      {__LINE__,
       {"--max-age=0", "-p", "\\A\\x"},
       "problem: --max-age wants seconds from 1 to 2678400, not '0'"},
      // Every range is read, also one that a later one replaced.
      {__LINE__,
       {"-w", "x", "-w", "1", "-p", "\\A\\x"},
       "problem: bad warning range 'x': 'x' is not a decimal number"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const check_vantric::Reading reading = check_vantric::read_options(row.args);
    EXPECT_EQ(reading.problem.empty() ? shown(reading.request) : "problem: " + reading.problem,
              row.want);
  }
}

}  // namespace
