#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// The performance-data calls on Linux, served by the /proc and /sys counter
// layer on the real machine.
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "perfdata/linux/discovery.h"
#include "perfdata/linux/query.h"
#include "perfdata/perfdata.h"
#include "platform/computer_name.h"

namespace perfdata {

namespace lb = linux_backend;

namespace {

// The handles stand for the layer's own query and counter objects.
lb::Query* of(Query query) { return reinterpret_cast<lb::Query*>(query); }
const lb::Counter* of(Counter counter) { return reinterpret_cast<const lb::Counter*>(counter); }

}  // namespace

Status open_query(Query* query) {
  if (query == nullptr) return INVALID_ARGUMENT;
  *query = reinterpret_cast<Query>(new lb::Query(lb::default_env()));
  return 0;
}

namespace {

Status add(Query query, const char* full_path, Counter* counter, bool array) {
  if (query == nullptr) return INVALID_HANDLE;
  if (full_path == nullptr || counter == nullptr) return INVALID_ARGUMENT;
  lb::Counter* c = nullptr;
  lb::Query* q = of(query);
  Status st = array ? q->add_array(full_path, &c) : q->add(full_path, &c);
  if (st == 0) *counter = reinterpret_cast<Counter>(c);
  return st;
}

}  // namespace

Status add_counter(Query query, const char* full_path, Counter* counter) {
  return add(query, full_path, counter, false);
}

// Counter names are served in English only.
Status add_english_counter(Query query, const char* full_path, Counter* counter) {
  return add_counter(query, full_path, counter);
}

Status add_array_counter(Query query, const char* full_path, Counter* counter) {
  return add(query, full_path, counter, true);
}

Status get_formatted_counter_array(Counter counter, uint32_t format,
                                   std::vector<ArrayItem>* items) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (items == nullptr) return INVALID_ARGUMENT;
  const auto* c = of(counter);
  c->format_array(format, *items);
  // An object whose primary source could not be read has no items: that
  // is no "nothing matched".
  return items->empty() && !c->failure_detail().empty() ? CSTATUS_INVALID_DATA : 0;
}

std::string failure_detail(Query query, Counter counter) {
  if (counter != nullptr) return of(counter)->failure_detail();
  return query == nullptr ? std::string() : of(query)->add_problem();
}

Status collect_query_data(Query query) {
  if (query == nullptr) return INVALID_HANDLE;
  return of(query)->collect();
}

Status get_formatted_counter_value(Counter counter, uint32_t format, CounterValue* value) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (value == nullptr) return INVALID_ARGUMENT;
  lb::FormattedValue fv = of(counter)->format(format);
  value->c_status = fv.c_status;
  value->value = fv.value;
  // The call itself worked: the record carries the value status.
  return 0;
}

Status close_query(Query query) {
  if (query == nullptr) return INVALID_HANDLE;
  delete of(query);
  return 0;
}

bool get_computer_name(char* buffer, uint32_t* size) {
  return platform::computer_name(buffer, size);
}

void sleep_ms(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // A signal cuts nanosleep short; sleep the rest so the pause is never shorter.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

Status enum_objects(std::vector<std::string>* objects) {
  if (objects == nullptr) return INVALID_ARGUMENT;
  return lb::enum_objects(lb::default_env(), *objects);
}

Status enum_object_items(const char* object, std::vector<CounterInfo>* counters,
                         std::vector<std::string>* instances) {
  if (object == nullptr || counters == nullptr || instances == nullptr) return INVALID_ARGUMENT;
  return lb::enum_object_items(lb::default_env(), object, *counters, *instances);
}

Status expand_wildcard_path(const char* path, std::vector<std::string>* paths) {
  if (path == nullptr || paths == nullptr) return INVALID_ARGUMENT;
  return lb::expand_wildcard_path(lb::default_env(), path, *paths);
}

Status get_counter_info(Counter counter, CounterInfo* info) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (info == nullptr) return INVALID_ARGUMENT;
  *info = lb::counter_info(of(counter)->row(), of(counter)->env());
  return 0;
}

Status get_raw_counter_value(Counter counter, RawCounter* raw) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (raw == nullptr) return INVALID_ARGUMENT;
  return of(counter)->raw(*raw);
}

Status get_raw_counter_array(Counter counter, std::vector<RawArrayItem>* items) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (items == nullptr) return INVALID_ARGUMENT;
  return of(counter)->raw_array(*items);
}

Status calculate_counter_from_raw(Counter counter, uint32_t format, const RawCounter* newer,
                                  const RawCounter* older, CounterValue* value) {
  CounterInfo info;
  if (Status st = get_counter_info(counter, &info); st != 0) return st;
  return calculate_from_raw(info, format, newer, older, value);
}

}  // namespace perfdata
