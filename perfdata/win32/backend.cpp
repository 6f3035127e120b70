#ifndef _WIN32
#error "perfdata/win32 is the Windows backend; CMake picked the wrong folder"
#endif

// The system's Performance Data Helper, called as it is.
#include "perfdata/perfdata.h"

#include <windows.h>
#include <vector>

#include "perfdata/counter_types.h"
#include "perfdata/paths.h"
#include "perfdata/win32/syscalls.h"
#include "platform/computer_name.h"

namespace perfdata {

// The interface's format flags are the system's own, passed through as they are.
static_assert(FMT_DOUBLE == PDH_FMT_DOUBLE && FMT_NOCAP100 == PDH_FMT_NOCAP100);
// So are the counter types the formulas are written for.
static_assert(TYPE_COUNTER_COUNTER == PERF_COUNTER_COUNTER &&
              TYPE_COUNTER_BULK_COUNT == PERF_COUNTER_BULK_COUNT &&
              TYPE_100NSEC_TIMER == PERF_100NSEC_TIMER &&
              TYPE_100NSEC_TIMER_INV == PERF_100NSEC_TIMER_INV &&
              TYPE_COUNTER_TIMER == PERF_COUNTER_TIMER &&
              TYPE_COUNTER_TIMER_INV == PERF_COUNTER_TIMER_INV &&
              TYPE_PRECISION_100NS_TIMER == PERF_PRECISION_100NS_TIMER &&
              TYPE_AVERAGE_TIMER == PERF_AVERAGE_TIMER && TYPE_AVERAGE_BULK == PERF_AVERAGE_BULK &&
              TYPE_SAMPLE_FRACTION == PERF_SAMPLE_FRACTION &&
              TYPE_RAW_FRACTION == PERF_RAW_FRACTION &&
              TYPE_LARGE_RAW_FRACTION == PERF_LARGE_RAW_FRACTION &&
              TYPE_COUNTER_RAWCOUNT == PERF_COUNTER_RAWCOUNT &&
              TYPE_COUNTER_LARGE_RAWCOUNT == PERF_COUNTER_LARGE_RAWCOUNT &&
              TYPE_COUNTER_RAWCOUNT_HEX == PERF_COUNTER_RAWCOUNT_HEX &&
              TYPE_COUNTER_LARGE_RAWCOUNT_HEX == PERF_COUNTER_LARGE_RAWCOUNT_HEX &&
              TYPE_COUNTER_QUEUELEN_TYPE == PERF_COUNTER_QUEUELEN_TYPE &&
              TYPE_COUNTER_LARGE_QUEUELEN_TYPE == PERF_COUNTER_LARGE_QUEUELEN_TYPE &&
              TYPE_COUNTER_100NS_QUEUELEN_TYPE == PERF_COUNTER_100NS_QUEUELEN_TYPE &&
              TYPE_ELAPSED_TIME == PERF_ELAPSED_TIME);

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
  calls.get_counter_time_base = PdhGetCounterTimeBase;
  calls.get_raw_counter_value = PdhGetRawCounterValue;
  calls.calculate_counter_from_raw_value = PdhCalculateCounterFromRawValue;
  calls.add_english_counter = lookup<decltype(calls.add_english_counter)>(
      GetModuleHandleA("pdh.dll"), "PdhAddEnglishCounterA");
  // Wine's PdhEnumObjectsA and its two array reads raise an
  // unimplemented-function exception that no handler of ours may catch; the
  // only safe course is not to call them.
  const bool wine =
      lookup<void (*)()>(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  calls.enum_objects_is_stub = wine;
  calls.get_formatted_counter_array = wine ? nullptr : PdhGetFormattedCounterArrayA;
  calls.get_raw_counter_array = wine ? nullptr : PdhGetRawCounterArrayA;
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

// An array's records and the names they point to, in one buffer kept in
// whole records so that their doubles and pointers stay aligned.
template <typename Item>
struct ItemBuffer {
  std::vector<Item> records;
  DWORD count = 0;
};

// The two-call protocol of the array reads: size 0 asks for the size, then a
// buffer of that size is filled. Instances that start in between make the
// second call PDH_MORE_DATA again with the larger size; a few rounds are
// allowed, then that status is the answer. `call(size, count, items)`.
template <typename Item, typename Call>
Status fetch_items(Call call, ItemBuffer<Item>* out) {
  DWORD size = 0;
  out->count = 0;
  Status st = call(&size, &out->count, nullptr);
  for (int round = 0; round < 4 && st == PDH_MORE_DATA; ++round) {
    out->records.assign(size / sizeof(Item) + 1, Item{});
    const DWORD room = static_cast<DWORD>(out->records.size() * sizeof(Item));
    DWORD asked = room;
    out->count = 0;
    st = call(&asked, &out->count, out->records.data());
    size = asked > room ? asked : room * 2;
  }
  // Counts beyond the records received cannot be read (nothing passed, or a
  // count the buffer cannot hold).
  if (out->count > out->records.size()) out->count = static_cast<DWORD>(out->records.size());
  return st;
}

// The records of a filled array in the interface's order, the system's with
// "_Total" moved last, each with its display name: namesakes come bare and
// are numbered "#1", "#2"... in that order, as the other backends name them.
template <typename Item>
std::vector<std::pair<const Item*, std::string>> in_order(const ItemBuffer<Item>& buf) {
  std::vector<std::pair<const Item*, std::string>> out;
  std::vector<std::string> names;
  out.reserve(buf.count);
  names.reserve(buf.count);
  for (int total = 0; total < 2; ++total) {
    for (DWORD i = 0; i < buf.count; ++i) {
      const Item& r = buf.records[i];
      const char* name = r.szName != nullptr ? r.szName : "";
      if (iequals(name, "_Total") != (total == 1)) continue;
      names.emplace_back(name);
      out.emplace_back(&r, std::string());
    }
  }
  names = number_duplicates(names);
  for (size_t i = 0; i < names.size(); ++i) out[i].second = std::move(names[i]);
  return out;
}

int64_t ticks(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

FILETIME filetime(int64_t t) {
  const auto u = static_cast<uint64_t>(t);
  return FILETIME{static_cast<DWORD>(u & 0xFFFFFFFFu), static_cast<DWORD>(u >> 32)};
}

RawCounter from_system(const PDH_RAW_COUNTER& r) {
  return RawCounter{r.CStatus, ticks(r.TimeStamp), r.FirstValue, r.SecondValue, r.MultiCount};
}

PDH_RAW_COUNTER to_system(const RawCounter& r) {
  return PDH_RAW_COUNTER{r.c_status, filetime(r.time_stamp), r.first_value, r.second_value,
                         r.multi_count};
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
  w::ItemBuffer<PDH_FMT_COUNTERVALUE_ITEM_A> buf;
  Status st = w::fetch_items(
      [&](LPDWORD size, LPDWORD count, PPDH_FMT_COUNTERVALUE_ITEM_A records) {
        return w::syscalls().get_formatted_counter_array(static_cast<PDH_HCOUNTER>(counter), format,
                                                         size, count, records);
      },
      &buf);
  if (w::nothing_matched(st)) return 0;
  if (st != 0) return st;
  for (auto& [r, name] : w::in_order(buf))
    items->push_back(ArrayItem{std::move(name), r->FmtValue.CStatus, r->FmtValue.doubleValue});
  return 0;
}

Status get_raw_counter_value(Counter counter, RawCounter* raw) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (raw == nullptr) return INVALID_ARGUMENT;
  PDH_RAW_COUNTER r{};
  Status st = w::syscalls().get_raw_counter_value(static_cast<PDH_HCOUNTER>(counter), nullptr, &r);
  if (st == 0) *raw = w::from_system(r);
  return st;
}

Status get_raw_counter_array(Counter counter, std::vector<RawArrayItem>* items) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (items == nullptr) return INVALID_ARGUMENT;
  items->clear();
  if (w::syscalls().get_raw_counter_array == nullptr) return NOT_IMPLEMENTED;
  w::ItemBuffer<PDH_RAW_COUNTER_ITEM_A> buf;
  Status st = w::fetch_items(
      [&](LPDWORD size, LPDWORD count, PPDH_RAW_COUNTER_ITEM_A records) {
        return w::syscalls().get_raw_counter_array(static_cast<PDH_HCOUNTER>(counter), size, count,
                                                   records);
      },
      &buf);
  if (w::nothing_matched(st)) return 0;
  if (st != 0) return st;
  for (auto& [r, name] : w::in_order(buf))
    items->push_back(RawArrayItem{std::move(name), w::from_system(r->RawValue)});
  return 0;
}

Status calculate_counter_from_raw(Counter counter, uint32_t format, const RawCounter* newer,
                                  const RawCounter* older, CounterValue* value) {
  if (counter == nullptr) return INVALID_HANDLE;
  if (newer == nullptr || value == nullptr) return INVALID_ARGUMENT;
  // Wine's calculation reads the older record whatever the type, so none is
  // passed as the newer one again: a type that reads one record ignores it,
  // one that needs two sees no interval and answers INVALID_DATA.
  PDH_RAW_COUNTER n = w::to_system(*newer), o = w::to_system(older != nullptr ? *older : *newer);
  PDH_FMT_COUNTERVALUE v{};
  // The system's own formula, with the type and time base the handle carries;
  // the record is read as a double, so that is what it is asked for.
  Status st = w::syscalls().calculate_counter_from_raw_value(static_cast<PDH_HCOUNTER>(counter),
                                                             format | PDH_FMT_DOUBLE, &n, &o, &v);
  *value = CounterValue{st == 0 ? v.CStatus : st, st == 0 ? v.doubleValue : 0.0};
  return st;
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
  info->kind = kind_of_type(raw->dwType);
  info->unit = w::unit_of(info->kind, raw->dwType, info->name);
  if (raw->szExplainText != nullptr) info->explanation = raw->szExplainText;
  info->type = raw->dwType;
  info->default_scale = raw->lDefaultScale;
  // A counter whose clock the system does not tell keeps 0: its rates are
  // then not valid, never computed against an assumed 10^7.
  LONGLONG base = 0;
  if (sys.get_counter_time_base(handle, &base) == 0) info->time_base = base;
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
