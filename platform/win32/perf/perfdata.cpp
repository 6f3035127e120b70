// The system's Performance Data Helper, called as it is.
#include "platform/perfdata.h"

#include "platform/computer_name.h"

#include <windows.h>
#include <pdh.h>

namespace pdh {

Status open_query(Query* query) {
  PDH_HQUERY handle = nullptr;
  Status status = PdhOpenQueryA(nullptr, 0, &handle);
  *query = handle;
  return status;
}

Status add_counter(Query query, const char* full_path, Counter* counter) {
  PDH_HCOUNTER handle = nullptr;
  Status status = PdhAddCounterA(static_cast<PDH_HQUERY>(query), full_path, 0, &handle);
  *counter = handle;
  return status;
}

Status collect_query_data(Query query) {
  return PdhCollectQueryData(static_cast<PDH_HQUERY>(query));
}

Status get_formatted_counter_value(Counter counter, uint32_t format, CounterValue* value) {
  // Read into the system's record, then copy only what it filled: a failed
  // read must leave the caller's record as it was.
  PDH_FMT_COUNTERVALUE raw{};
  Status status = PdhGetFormattedCounterValue(static_cast<PDH_HCOUNTER>(counter), format,
                                              nullptr, &raw);
  if (status == 0) {
    value->c_status = raw.CStatus;
    value->value = raw.doubleValue;
  }
  return status;
}

Status close_query(Query query) { return PdhCloseQuery(static_cast<PDH_HQUERY>(query)); }

bool get_computer_name(char* buffer, uint32_t* size) { return platform::computer_name(buffer, size); }

void sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace pdh
