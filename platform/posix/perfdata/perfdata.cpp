// The performance-data calls on Linux, served by the /proc and /sys counter
// layer on the real machine.
#include "platform/perfdata.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/computer_name.h"
#include "platform/posix/perf/linperf.h"

namespace pdh {

Status open_query(Query* query) {
  if (query == nullptr) return INVALID_ARGUMENT;
  *query = new linperf::Query(linperf::default_env());
  return 0;
}

Status add_counter(Query query, const char* full_path, Counter* counter) {
  if (query == nullptr) return INVALID_HANDLE;
  if (full_path == nullptr || counter == nullptr) return INVALID_ARGUMENT;
  linperf::Counter* c = nullptr;
  Status st = static_cast<linperf::Query*>(query)->add(full_path, &c);
  if (st == 0) *counter = c;
  return st;
}

Status collect_query_data(Query query) {
  if (query == nullptr) return INVALID_HANDLE;
  return static_cast<linperf::Query*>(query)->collect();
}

Status get_formatted_counter_value(Counter counter, uint32_t format, CounterValue* value) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (value == nullptr) return INVALID_ARGUMENT;
  linperf::FormattedValue fv = static_cast<const linperf::Counter*>(counter)->format(format);
  value->c_status = fv.c_status;
  value->value = fv.value;
  // The call itself worked: the record carries the value status.
  return 0;
}

Status close_query(Query query) {
  if (query == nullptr) return INVALID_HANDLE;
  delete static_cast<linperf::Query*>(query);
  return 0;
}

bool get_computer_name(char* buffer, uint32_t* size) { return platform::computer_name(buffer, size); }

void sleep_ms(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // A signal cuts nanosleep short; sleep the rest so the pause is never shorter.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace pdh
