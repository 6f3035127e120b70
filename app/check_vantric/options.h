// The command line of check_vantric read into a Request. Every mistake ends
// the run as UNKNOWN (fail() in finish.h) with a line saying what is wrong,
// before any sampling:
//   unknown or argument-less options ("unknown option -x", "option --label
//   wants an argument"), -s/-n/-t out of bounds, a bad --missing state,
//   --list with --expand or with more than one object, stray operands,
//   -C/-I/-P with -p, -C without -P, no counter at all, a path without its
//   leading backslash, a bad range, sampling (-s times -n) not shorter than -t.
// -h and -V skip every check after the scan.
//
//   check_vantric -C Processor -I _Total -P "% Processor Time" -w 85 -n 3
//   -> mode check, paths {"\Processor(_Total)\% Processor Time"}, warn 0..85,
//      1000 ms interval, 3 samples, 10 s timeout
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/output.h"
#include "plugin/range.h"

namespace check_vantric {

enum class Mode { check, list, expand, help, version };

struct Request {
  Mode mode = Mode::check;
  std::string object, instance, counter;
  std::vector<std::string> paths;  // check: every path to sample, '*' allowed
  std::string warn_text, crit_text;
  bool has_warn = false, has_crit = false;
  plugin::Range warn, crit;
  std::string label;
  uint32_t interval_ms = 1000;
  uint32_t samples = 1;
  uint32_t timeout_s = 10;
  plugin::State missing = plugin::State::unknown;
  bool no_cap = false;  // --no-cap: percentages not held to 100
  bool verbose = false;
  std::string expand_path;
  std::string list_object;
};

// Reads getoptlib::argc/argv.
Request read_options();

}  // namespace check_vantric
