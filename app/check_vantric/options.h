// The command line of check_vantric read into a Request, or the problem
// that stops the run before any sampling (the UNKNOWN line's summary, the
// same for every --format). The problems:
//   unknown or argument-less options ("unknown option -x", "option --label
//   wants an argument"), -s/-n/-t out of bounds, a bad --missing state,
//   --list with --expand or with more than one object, stray operands,
//   -C/-I/-P with -p, -C without -P, no counter at all, a path without its
//   leading backslash, a bad range (every -w/-c given, attached or not),
//   sampling (-s times -n) not shorter than -t, a --format other than
//   nagios, openmetrics or json, --textfile with a --format other than
//   openmetrics or with --list/--expand, --list/--expand with
//   --format=openmetrics, --interval-gauges without --format=openmetrics
//   or --textfile.
// The first problem found counts; -h and -V skip every check after the scan.
//
// -w and -c attach to paths by their order (plugin/path_thresholds.h): a
// range applies to the paths after it until the next range of its letter,
// ranges after the last path to every path without one of its own. The
// -C/-I/-P form is one path, standing where the first of the three stands.
//
//   check_vantric -C Processor -I _Total -P "% Processor Time" -w 85 -n 3
//   -> mode check, paths {"\Processor(_Total)\% Processor Time"},
//      bounds {warn 0..85}, 1000 ms interval, 3 samples, 10 s timeout
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "getoptlib/argument_file.h"
#include "plugin/check_result.h"
#include "plugin/state.h"

namespace check_vantric {

enum class Mode { check, list, expand, help, version };
enum class Format { nagios, openmetrics, json };

struct Request {
  Mode mode = Mode::check;
  std::string object, instance, counter;
  std::vector<std::string> paths;          // check: every path to sample, '*' allowed
  std::vector<plugin::Thresholds> bounds;  // check: one per element of paths
  std::string label;
  uint32_t interval_ms = 1000;
  uint32_t samples = 1;
  uint32_t timeout_s = 10;
  plugin::State missing = plugin::State::unknown;
  bool no_cap = false;  // --no-cap: percentages not held to 100
  bool verbose = false;
  std::string expand_path;
  std::string list_object;
  Format format = Format::nagios;
  std::string textfile;  // --textfile: the file the OpenMetrics text replaces
  // --interval-gauges: OpenMetrics gives every counter as a gauge of its
  // value over -s, not the running totals of one collection.
  bool interval_gauges = false;
  // --since-last: values over the time since the previous run of the same
  // check, from the raw records kept in its state file (app/check_vantric/since_last.h).
  bool since_last = false;
  std::string state_dir;      // --state-dir; empty: platform::state_directory's default
  uint32_t max_age_s = 3600;  // --max-age: an older stored sample is not used
};

// What reading the command line gives: the request, or the problem.
struct Reading {
  Request request;
  std::string problem;  // empty: `request` holds
};

// Every argument "@FILE" of `args` (the arguments after the program name)
// replaced by the words of FILE through `read` (getoptlib/argument_file.h),
// but for the argument of an option ("-c @10:20" is an inside range) and
// after "--". Returns "" or the problem "@FILE: <reason>"
// ("@paths.args: line 3: unterminated double quote"), `args` then unchanged.
//   {"@cpu.args", "-t", "5"}, cpu.args holding "-p '\Processor(_Total)\% Processor Time'"
//   -> {"-p", "\Processor(_Total)\% Processor Time", "-t", "5"}
std::string expand_argument_files(std::vector<std::string>& args,
                                  const getoptlib::ReadFileFn& read);

// The -t of `args` before the files are expanded, so that it bounds their
// reading too (a FIFO that nobody writes): the last one given, 0 for none or
// a bad one (which read_options then reports). One inside a file counts
// from the scan on.
uint32_t command_line_timeout(const std::vector<std::string>& args);

// Reads `args`, the arguments after the program name (files expanded).
Reading read_options(const std::vector<std::string>& args);

}  // namespace check_vantric
