#include "app/counter_sampler.h"

#include "number_text/integers.h"
#include "number_text/render.h"
#include "perfdata/perfdata.h"
#include "runtime/console_output.h"

std::string sample_error_text(std::string_view path, uint32_t status) {
  std::string text(path);
  if (status == perfdata::CSTATUS_ITEM_NOT_VALIDATED) {
    text += " - ERROR: ITEM_NOT_VALIDATED";
  } else {
    text += " - ERROR: 0x";
    text += int_to_hex(status, 8);
  }
  return text;
}

std::string sample_counter(std::string_view path) {
  perfdata::Query query = nullptr;
  perfdata::open_query(&query);
  const std::string full_path = perfdata::local_path(path);

  std::string result;
  perfdata::Counter counter = nullptr;
  perfdata::Status status = perfdata::add_counter(query, full_path.c_str(), &counter);
  if (status != 0) {
    result = sample_error_text(path, status);
  } else {
    perfdata::collect_query_data(query);
    perfdata::sleep_ms(1000);
    perfdata::collect_query_data(query);
    // A read that fails leaves the record untouched; its zeroed contents must
    // not pass for a valid reading, so the call's own status counts too.
    perfdata::CounterValue sample_value;
    status = perfdata::get_formatted_counter_value(counter, perfdata::FMT_DOUBLE, &sample_value);
    if (status != 0)
      result = sample_error_text(path, status);
    else if (!perfdata::is_usable(sample_value.c_status))
      result = sample_error_text(path, 0);
    else
      result = render_float(sample_value.value, FloatMode::fixed, 15, 5);
  }
  perfdata::close_query(query);
  return result;
}

namespace {
void usage_line(std::string_view text) {
  write_text(text);
  write_line_end();
  check_io();
}
}  // namespace

void print_usage() {
  usage_line(
      "Vantric usage is vantric.exe -C Counter [-I Instance] -P Parameter -f format -c critical "
      "threshold -w warning threshold -h help (this screen)");
  usage_line("");
  usage_line("Counter is in a Performance Counter object");
  usage_line("[Instance] is required for counters that have instances");
  usage_line("Parameter is the Performance Counter parameter");
  usage_line("");
  usage_line("format is a standard sprintf style format");
  usage_line("     e.g. \"The disk has %f%% free space\"");
  usage_line("");
  usage_line("critical and warning thresholds are any integers.");
}
