#ifndef _WIN32
#error "perfdata/win32 is the Windows backend; CMake picked the wrong folder"
#endif

// The system's Performance Data Helper, called as it is.
#include "perfdata/perfdata.h"

#include <windows.h>
#include <vector>

#include "perfdata/paths.h"
#include "perfdata/win32/syscalls.h"
#include "platform/computer_name.h"

namespace perfdata {

// The interface's format flags are the system's own, passed through as they are.
static_assert(FMT_DOUBLE == PDH_FMT_DOUBLE && FMT_NOCAP100 == PDH_FMT_NOCAP100);

namespace win32_backend {

namespace {

template <typename Fn>
Fn lookup(HMODULE module, const char* name) {
  return module != nullptr
             ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
             : nullptr;
}

SysCalls real_calls() {
  SysCalls calls{};
  calls.enum_objects = PdhEnumObjectsA;
  calls.enum_object_items = PdhEnumObjectItemsA;
  calls.expand_wildcard_path = PdhExpandWildCardPathA;
  calls.get_counter_info = PdhGetCounterInfoA;
  calls.add_counter = PdhAddCounterA;
  calls.get_formatted_counter_value = PdhGetFormattedCounterValue;
  calls.add_english_counter = lookup<decltype(calls.add_english_counter)>(
      GetModuleHandleA("pdh.dll"), "PdhAddEnglishCounterA");
  // Wine's PdhEnumObjectsA and PdhGetFormattedCounterArrayA raise an
  // unimplemented-function exception that no handler of ours may catch; the
  // only safe course is not to call them.
  const bool wine =
      lookup<void (*)()>(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  calls.enum_objects_is_stub = wine;
  calls.get_formatted_counter_array = wine ? nullptr : PdhGetFormattedCounterArrayA;
  return calls;
}

// The strings of a list ending in an empty string; a buffer that lacks the
// final NUL ends the list at its own end.
std::vector<std::string> split_list(const std::vector<char>& buf, DWORD used) {
  std::vector<std::string> out;
  const size_t end = used < buf.size() ? used : buf.size();
  size_t i = 0;
  while (i < end && buf[i] != '\0') {
    size_t j = i;
    while (j < end && buf[j] != '\0') ++j;
    out.emplace_back(buf.data() + i, j - i);
    i = j + 1;
  }
  return out;
}

// The characters of a filled list: what the call reports when that is less
// than the room it had, else the room.
DWORD filled(DWORD reported, DWORD room) {
  return reported > 0 && reported < room ? reported : room;
}

// The size-query-then-fill protocol: `call(nullptr, &size)` with size 0 gives
// PDH_MORE_DATA (or 0) and the size; a list that grew in between gives
// PDH_MORE_DATA again, so a few rounds are allowed.
template <typename Call>
Status fetch_list(Call call, std::vector<std::string>* out) {
  out->clear();
  DWORD size = 0;
  Status st = call(nullptr, &size);
  for (int round = 0; round < 4; ++round) {
    if (st != 0 && st != PDH_MORE_DATA) return st;
    if (size == 0) return st;
    std::vector<char> buf(size + 2, '\0');  // room for a final NUL the system might leave out
    DWORD room = size;
    st = call(buf.data(), &room);
    if (st == 0) {
      *out = split_list(buf, filled(room, size));
      return 0;
    }
    size = room > size ? room : size * 2;
  }
  return st;
}

// What the system says when a wildcard matches nothing now.
bool nothing_matched(Status st) { return st == PDH_CSTATUS_NO_INSTANCE || st == PDH_NO_DATA; }

Status discovery_status(Status st) { return st == PDH_NOT_IMPLEMENTED ? NOT_IMPLEMENTED : st; }

CounterKind kind_of(DWORD type) {
  switch (type) {
    case PERF_COUNTER_COUNTER:
    case PERF_COUNTER_BULK_COUNT:
    case PERF_COUNTER_QUEUELEN_TYPE:
    case PERF_COUNTER_LARGE_QUEUELEN_TYPE:
    case PERF_COUNTER_100NS_QUEUELEN_TYPE:
      return CounterKind::rate;
    case PERF_COUNTER_RAWCOUNT:
    case PERF_COUNTER_LARGE_RAWCOUNT:
    case PERF_COUNTER_RAWCOUNT_HEX:
    case PERF_COUNTER_LARGE_RAWCOUNT_HEX:
      return CounterKind::gauge;
    case PERF_RAW_FRACTION:
    case PERF_LARGE_RAW_FRACTION:
      return CounterKind::fraction;
    case PERF_100NSEC_TIMER:
    case PERF_100NSEC_TIMER_INV:
    case PERF_COUNTER_TIMER:
    case PERF_COUNTER_TIMER_INV:
    case PERF_PRECISION_100NS_TIMER:
    case PERF_SAMPLE_FRACTION:
      return CounterKind::percent;
    case PERF_AVERAGE_TIMER:
    case PERF_AVERAGE_BULK:
      return CounterKind::average;
    case PERF_ELAPSED_TIME:
      return CounterKind::elapsed;
    default:
      return CounterKind::unknown;
  }
}

bool ends_with(const std::string& s, const char* tail) {
  const std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// The unit a counter's type and name imply: percentages, seconds, and byte
// gauges ("Available Bytes"); rates and counts have none.
std::string unit_of(CounterKind kind, DWORD type, const std::string& name) {
  if (kind == CounterKind::percent || kind == CounterKind::fraction) return "%";
  if (kind == CounterKind::elapsed || type == PERF_AVERAGE_TIMER) return "s";
  if (kind == CounterKind::gauge && (ends_with(name, "Bytes") || ends_with(name, "Bytes Peak")))
    return "B";
  return "";
}

using Item = PDH_FMT_COUNTERVALUE_ITEM_A;

// The array's records and the names they point to, in one buffer kept in
// whole records so that their doubles and pointers stay aligned.
struct ItemBuffer {
  std::vector<Item> records;
  DWORD count = 0;
};

// The two-call protocol of the array read: size 0 asks for the size, then a
// buffer of that size is filled. Instances that start in between make the
// second call PDH_MORE_DATA again with the larger size; a few rounds are
// allowed, then that status is the answer.
Status fetch_items(PDH_HCOUNTER counter, DWORD format, ItemBuffer* out) {
  const SysCalls& sys = syscalls();
  DWORD size = 0;
  out->count = 0;
  Status st = sys.get_formatted_counter_array(counter, format, &size, &out->count, nullptr);
  for (int round = 0; round < 4 && st == PDH_MORE_DATA; ++round) {
    out->records.assign(size / sizeof(Item) + 1, Item{});
    const DWORD room = static_cast<DWORD>(out->records.size() * sizeof(Item));
    DWORD asked = room;
    out->count = 0;
    st = sys.get_formatted_counter_array(counter, format, &asked, &out->count, out->records.data());
    size = asked > room ? asked : room * 2;
  }
  // Counts beyond the records received cannot be read (nothing passed, or a
  // count the buffer cannot hold).
  if (out->count > out->records.size()) out->count = static_cast<DWORD>(out->records.size());
  return st;
}

}  // namespace

SysCalls& syscalls() {
  static SysCalls calls = real_calls();
  return calls;
}

}  // namespace win32_backend

namespace w = win32_backend;

Status open_query(Query* query) {
  PDH_HQUERY handle = nullptr;
  Status status = PdhOpenQueryA(nullptr, 0, &handle);
  *query = static_cast<Query>(handle);
  return status;
}

Status add_counter(Query query, const char* full_path, Counter* counter) {
  PDH_HCOUNTER handle = nullptr;
  Status status = w::syscalls().add_counter(static_cast<PDH_HQUERY>(query), full_path, 0, &handle);
  *counter = static_cast<Counter>(handle);
  return status;
}

Status add_english_counter(Query query, const char* full_path, Counter* counter) {
  if (w::syscalls().add_english_counter == nullptr) return add_counter(query, full_path, counter);
  PDH_HCOUNTER handle = nullptr;
  Status status =
      w::syscalls().add_english_counter(static_cast<PDH_HQUERY>(query), full_path, 0, &handle);
  *counter = static_cast<Counter>(handle);
  return status;
}

Status collect_query_data(Query query) {
  return PdhCollectQueryData(static_cast<PDH_HQUERY>(query));
}

Status get_formatted_counter_value(Counter counter, uint32_t format, CounterValue* value) {
  // Read into the system's record, then copy only what it filled: a failed
  // read must leave the caller's record as it was.
  PDH_FMT_COUNTERVALUE raw{};
  Status status = w::syscalls().get_formatted_counter_value(static_cast<PDH_HCOUNTER>(counter),
                                                            format, nullptr, &raw);
  if (status == 0) {
    value->c_status = raw.CStatus;
    value->value = raw.doubleValue;
  }
  return status;
}

Status add_array_counter(Query query, const char* full_path, Counter* counter) {
  if (counter == nullptr || full_path == nullptr) return INVALID_ARGUMENT;
  *counter = nullptr;
  // The system would take a '*' in the counter too; the interface keeps it
  // to the instance on every platform.
  ParsedPath parts;
  if (Status st = parse_array_path(full_path, parts); st != 0) return st;
  // Told at the add, not at the first read, that arrays cannot be read here.
  if (w::syscalls().get_formatted_counter_array == nullptr) return NOT_IMPLEMENTED;
  return add_english_counter(query, full_path, counter);
}

Status get_formatted_counter_array(Counter counter, uint32_t format,
                                   std::vector<ArrayItem>* items) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (items == nullptr) return INVALID_ARGUMENT;
  items->clear();
  if (w::syscalls().get_formatted_counter_array == nullptr) return NOT_IMPLEMENTED;
  w::ItemBuffer buf;
  Status st = w::fetch_items(static_cast<PDH_HCOUNTER>(counter), format, &buf);
  if (w::nothing_matched(st)) return 0;
  if (st != 0) return st;
  // The system's order with "_Total" moved last; namesakes come bare and are
  // numbered "#1", "#2"... in that order, as the other backends name them.
  std::vector<std::string> names;
  names.reserve(buf.count);
  for (int total = 0; total < 2; ++total) {
    for (DWORD i = 0; i < buf.count; ++i) {
      const w::Item& r = buf.records[i];
      const char* name = r.szName != nullptr ? r.szName : "";
      if (iequals(name, "_Total") != (total == 1)) continue;
      names.emplace_back(name);
      items->push_back(ArrayItem{std::string(), r.FmtValue.CStatus, r.FmtValue.doubleValue});
    }
  }
  names = number_duplicates(names);
  for (size_t i = 0; i < names.size(); ++i) (*items)[i].name = std::move(names[i]);
  return 0;
}

Status close_query(Query query) { return PdhCloseQuery(static_cast<PDH_HQUERY>(query)); }

bool get_computer_name(char* buffer, uint32_t* size) {
  return platform::computer_name(buffer, size);
}

void sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

Status enum_objects(std::vector<std::string>* objects) {
  if (objects == nullptr) return INVALID_ARGUMENT;
  objects->clear();
  const w::SysCalls& sys = w::syscalls();
  if (sys.enum_objects_is_stub || sys.enum_objects == nullptr) return NOT_IMPLEMENTED;
  // The first round refreshes the system's object list; later rounds reuse it.
  bool refresh = TRUE;
  return w::discovery_status(w::fetch_list(
      [&](char* buf, DWORD* size) {
        Status st = sys.enum_objects(nullptr, nullptr, buf, size, PERF_DETAIL_WIZARD, refresh);
        refresh = FALSE;
        return st;
      },
      objects));
}

Status enum_object_items(const char* object, std::vector<CounterInfo>* counters,
                         std::vector<std::string>* instances) {
  if (object == nullptr || counters == nullptr || instances == nullptr) return INVALID_ARGUMENT;
  counters->clear();
  instances->clear();
  const w::SysCalls& sys = w::syscalls();
  DWORD csize = 0, isize = 0;
  Status st = sys.enum_object_items(nullptr, nullptr, object, nullptr, &csize, nullptr, &isize,
                                    PERF_DETAIL_WIZARD, 0);
  for (int round = 0; round < 4 && (st == 0 || st == PDH_MORE_DATA) && csize > 0; ++round) {
    // Each list gets the room asked for (plus a NUL the system might leave out).
    std::vector<char> cbuf(csize + 2, '\0'), ibuf(isize + 2, '\0');
    DWORD croom = csize, iroom = isize;
    st = sys.enum_object_items(nullptr, nullptr, object, cbuf.data(), &croom,
                               isize > 0 ? ibuf.data() : nullptr, &iroom, PERF_DETAIL_WIZARD, 0);
    if (st == 0) {
      for (std::string& name : w::split_list(cbuf, w::filled(croom, csize))) {
        CounterInfo info;
        info.name = std::move(name);
        counters->push_back(std::move(info));
      }
      if (isize > 0) *instances = w::split_list(ibuf, w::filled(iroom, isize));
      return 0;
    }
    csize = croom > csize ? croom : csize * 2;
    isize = iroom > isize ? iroom : isize * 2;
  }
  return w::discovery_status(st);
}

Status expand_wildcard_path(const char* path, std::vector<std::string>* paths) {
  if (path == nullptr || paths == nullptr) return INVALID_ARGUMENT;
  const w::SysCalls& sys = w::syscalls();
  Status st = w::fetch_list(
      [&](char* buf, DWORD* size) { return sys.expand_wildcard_path(nullptr, path, buf, size, 0); },
      paths);
  // Nothing matched is an empty list, not a failure.
  if (w::nothing_matched(st)) {
    paths->clear();
    return 0;
  }
  return w::discovery_status(st);
}

Status get_counter_info(Counter counter, CounterInfo* info) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (info == nullptr) return INVALID_ARGUMENT;
  const w::SysCalls& sys = w::syscalls();
  auto handle = static_cast<PDH_HCOUNTER>(counter);
  DWORD size = 0;
  Status st = sys.get_counter_info(handle, TRUE, &size, nullptr);
  if (st != PDH_MORE_DATA && st != 0) return w::discovery_status(st);
  if (size < sizeof(PDH_COUNTER_INFO_A)) size = sizeof(PDH_COUNTER_INFO_A);
  // The record points into its own buffer; keep it aligned for its pointers.
  std::vector<DWORD_PTR> buf(size / sizeof(DWORD_PTR) + 1);
  auto* raw = reinterpret_cast<PPDH_COUNTER_INFO_A>(buf.data());
  st = sys.get_counter_info(handle, TRUE, &size, raw);
  if (st != 0) return w::discovery_status(st);
  *info = CounterInfo{};
  if (raw->szCounterName != nullptr) info->name = raw->szCounterName;
  info->kind = w::kind_of(raw->dwType);
  info->unit = w::unit_of(info->kind, raw->dwType, info->name);
  if (raw->szExplainText != nullptr) info->explanation = raw->szExplainText;
  return 0;
}

namespace {

// Whether an English path adds on this system, in the given query.
Status probe(Query query, const char* path) {
  PDH_HCOUNTER handle = nullptr;
  return w::syscalls().add_english_counter(static_cast<PDH_HQUERY>(query), path, 0, &handle);
}

}  // namespace

std::string missing_call(Discovery operation) {
  const char* call = "PdhExpandWildCardPathA";
  if (operation == Discovery::object_enumeration) call = "PdhEnumObjectsA";
  if (operation == Discovery::counter_enumeration) call = "PdhEnumObjectItemsA";
  return std::string(discovery_words(operation)) + " (" + call + ")";
}

std::string describe_missing_object(const char* object) {
  // Without the English add, an English probe fails on a localized system
  // and would blame a sound registry.
  if (object == nullptr || w::syscalls().add_english_counter == nullptr) return "";
  Query query = nullptr;
  if (open_query(&query) != 0) return "";
  std::string text;
  const Status processor = probe(query, "\\Processor(_Total)\\% Processor Time");
  if (processor == PDH_CSTATUS_NO_OBJECT || processor == PDH_CSTATUS_NO_COUNTER) {
    text =
        "the system knows no performance object: its counter registry is damaged; rebuild it "
        "with \"lodctr /R\" run as administrator";
  } else if (iequals(object, "Process") && probe(query, "\\Process V2(*)\\% Processor Time") == 0) {
    text = "this system serves processes as the object \"Process V2\", instances \"name:pid\"";
  }
  close_query(query);
  return text;
}

// The system's statuses are all it says about a failure.
std::string failure_detail(Query, Counter) { return ""; }

}  // namespace perfdata
