// vantric: checks one performance counter of the local computer.
//
//   vantric -C Processor -I _Total -P "% Processor Time" -c 95 -w 85
//
// writes the value with five decimals (or the -f format of it, or a line
// saying the counter was not found) and exits 0 OK, 1 warning, 2 critical or
// 3 when the two thresholds are equal.
#include <cmath>
#include <string>

#include "app/counter_sampler.h"
#include "failure/failure.h"
#include "getoptlib/getoptlib.h"
#include "number_text/format.h"
#include "number_text/integers.h"
#include "number_text/number_settings.h"
#include "number_text/parse.h"
#include "perfdata/paths.h"
#include "runtime/console_output.h"
#include "runtime/program.h"

namespace {

struct CheckOptions {
  std::string counter;  // the object; after path building, the whole counter path
  std::string instance;
  std::string parameter;
  std::string format;
  std::string critical;  // only non-empty arguments are stored
  std::string warning;
};

CheckOptions check_options;
std::string sample_text;
double value = 0.0;

void write_result_line(std::string_view text) {
  write_text(text);
  write_line_end();
  check_io();
}

// Stores the parsed value as a double; a value whose text reads back beyond
// the double range is a floating point overflow, not an infinity. Kept out of
// line so that the overflow is reported just after the storing call.
__attribute__((noinline)) double store_as_double(long double parsed) {
  double stored = static_cast<double>(parsed);
  if (std::isinf(stored))
    raise_runtime_error(RuntimeError::float_overflow, __builtin_return_address(0));
  return stored;
}

int threshold_status(double checked, int32_t critical, int32_t warning) {
  const double critical_bound = critical, warning_bound = warning;
  if (critical < warning) {  // low values are bad
    return checked <= critical_bound ? 2 : checked <= warning_bound ? 1 : 0;
  }
  if (critical > warning) {  // high values are bad
    return checked >= critical_bound ? 2 : checked >= warning_bound ? 1 : 0;
  }
  return 3;
}

void run_check() {
  int32_t option;
  while ((option = getoptlib::getopt(getoptlib::argc, getoptlib::argv, "C:I:P:c:w:f:h")) != -1) {
    const std::string& arg = getoptlib::optarg;
    switch (option) {
      case 'C':
        check_options.counter = arg;
        break;
      case 'I':
        check_options.instance = arg;
        break;
      case 'P':
        check_options.parameter = arg;
        break;
      case 'f':
        check_options.format = arg;
        break;
      case 'c':
        if (!arg.empty()) check_options.critical = arg;
        break;
      case 'w':
        if (!arg.empty()) check_options.warning = arg;
        break;
      default:
        break;  // -h, and '?' or ':' after a diagnostic: scan on
    }
  }
  if (check_options.counter.empty() || check_options.parameter.empty()) {
    print_usage();
    return;
  }

  const std::string path = perfdata::join_path(
      check_options.counter, check_options.instance.empty() ? nullptr : &check_options.instance,
      check_options.parameter);
  check_options.counter = path;

  sample_text = sample_counter(path);
  if (sample_text.find("ERROR") != std::string::npos) {
    write_text("Counter ");
    write_text(path);
    write_text(" not found.");
    write_line_end();
    check_io();
  } else {
    value = store_as_double(parse_float(sample_text));
    if (check_options.format.empty())
      write_result_line(sample_text);
    else
      write_result_line(format_value(check_options.format, {FormatArg::floating(value)}));
  }

  if (!check_options.critical.empty() && !check_options.warning.empty()) {
    const int32_t crit = parse_int(check_options.critical);
    const int32_t warn = parse_int(check_options.warning);
    exit_status = threshold_status(value, crit, warn);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The start steps load the locale's number settings and build the
  // argument vector, in that order; neither has an end step.
  program_main(argc, argv, &run_check,
               {{&load_number_settings, nullptr}, {&getoptlib::build_argument_vector, nullptr}});
}
