// The performance-data service the programs call. Backends: the system's own
// Performance Data Helper on Windows (win32/), counters served from /proc and
// /sys on Linux (linux/), and a table for the test build (table/); the
// program that links one of them chooses.
//
// The calls keep the contract of their Windows namesakes: a counter path
// "\\computer\object(instance)\counter" or "\\computer\object\counter", status
// 0 on success and a 32-bit status code otherwise, two collections that let a
// rate be formed, and a value status of 0 or 1 for a usable value.
//
// Discovery (enum_objects, enum_object_items, expand_wildcard_path,
// get_counter_info) returns NOT_IMPLEMENTED where the system lacks the call
// (Wine 8 has no PdhEnumObjectsA, PdhEnumObjectItemsA or
// PdhExpandWildCardPathA). Example on Linux:
//   expand_wildcard_path("\\Processor(*)\\% Idle Time", &paths) -> 0, paths =
//   {"\Processor(_Total)\% Idle Time", "\Processor(0)\% Idle Time", ...}
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace perfdata {

using Status = uint32_t;
// Opaque handles, each backend's own records; two types, so a counter cannot
// stand where a query is wanted.
struct QueryHandle;
struct CounterHandle;
using Query = QueryHandle*;
using Counter = CounterHandle*;

constexpr Status CSTATUS_VALID_DATA = 0x00000000;
constexpr Status CSTATUS_NEW_DATA = 0x00000001;
constexpr Status CSTATUS_NO_MACHINE = 0x800007D0;
constexpr Status CSTATUS_NO_INSTANCE = 0x800007D1;
constexpr Status CSTATUS_ITEM_NOT_VALIDATED = 0x800007D3;
constexpr Status NO_DATA = 0x800007D5;  // nothing matched
constexpr Status CSTATUS_NO_OBJECT = 0xC0000BB8;
constexpr Status CSTATUS_NO_COUNTER = 0xC0000BB9;
constexpr Status CSTATUS_INVALID_DATA = 0xC0000BBA;
constexpr Status INVALID_HANDLE = 0xC0000BBC;
constexpr Status INVALID_ARGUMENT = 0xC0000BBD;
constexpr Status CSTATUS_BAD_COUNTERNAME = 0xC0000BC0;
constexpr Status NOT_IMPLEMENTED = 0xC0000BD3;  // the system lacks the call

constexpr uint32_t FMT_DOUBLE = 0x00000200;
constexpr uint32_t FMT_NOCAP100 = 0x00008000;

// The value record of a formatted read (the double variant).
struct CounterValue {
  uint32_t c_status = 0;
  double value = 0.0;
};

// Whether a value status (CounterValue::c_status, ArrayItem::c_status) says
// the value can be used: valid data, or new data.
constexpr bool is_usable(Status c_status) {
  return c_status == CSTATUS_VALID_DATA || c_status == CSTATUS_NEW_DATA;
}

Status open_query(Query* query);
Status add_counter(Query query, const char* full_path, Counter* counter);
// Adds by the English (neutral) counter name whatever the system's display
// language: on Windows through PdhAddEnglishCounterA looked up at run time,
// falling back to PdhAddCounterA; elsewhere the same as add_counter.
Status add_english_counter(Query query, const char* full_path, Counter* counter);
Status collect_query_data(Query query);
Status get_formatted_counter_value(Counter counter, uint32_t format, CounterValue* value);
Status close_query(Query query);

// Copies the local computer name into `buffer` of `*size` bytes; on success
// returns true and sets `*size` to its length without the NUL.
bool get_computer_name(char* buffer, uint32_t* size);
// `path` ("\Object(Instance)\Counter") on the local computer, the form the
// adds take: "\\" + the computer name (empty when the system gives none) + path.
//   local_path("\System\Threads") -> "\\HOST\System\Threads"
std::string local_path(std::string_view path);
void sleep_ms(uint32_t milliseconds);

// ------------------------------------------------------------ counter arrays

// One instance of an array counter at the latest collection.
struct ArrayItem {
  ArrayItem(std::string n = {}, uint32_t status = 0, double v = 0.0, std::string why = {})
      : name(std::move(n)), c_status(status), value(v), detail(std::move(why)) {}
  std::string name;       // display name with "#k" for duplicates: "svchost#1"
  uint32_t c_status = 0;  // 0 or 1: `value` is usable; otherwise why not
  double value = 0.0;
  // With a failing c_status, what the backend can say beyond it (as
  // failure_detail); usually "".
  std::string detail;
};

// Adds one counter for every instance that a path whose instance part holds
// '*' ("\\computer\Process(*)\Working Set", "...\PhysicalDisk(sd*)\...")
// matches at each collection; the English path works on every display
// language (Windows: PdhAddEnglishCounterA, falling back to PdhAddCounterA).
// The object and the counter are checked as add_counter checks them; a '*'
// there is CSTATUS_BAD_COUNTERNAME. A pattern that matches nothing now is
// not an error: the array is empty. add_counter keeps refusing '*'.
// NOT_IMPLEMENTED where the system lacks the array read (Wine 8, whose
// PdhGetFormattedCounterArrayA would end the process, and whose add takes
// no '*' either).
Status add_array_counter(Query query, const char* full_path, Counter* counter);

// Every instance of an array counter, in the object's instance order with
// "_Total" last where it matches: for rate, percent and average counters
// those present in both of the last two collections, for the others those
// of the latest one. An instance that ended is left out; one that exists
// but cannot be read (permission, a reset, no progress) is an item with a
// failing c_status. `format` as for get_formatted_counter_value.
Status get_formatted_counter_array(Counter counter, uint32_t format, std::vector<ArrayItem>* items);

// ------------------------------------------------------------------ diagnosis

// What the backend can say beyond the status about the latest failed add on
// `query` (with `counter` null), or about the failing value status of
// `counter`'s latest reading: "cannot read /proc/stat: Too many open files",
// "counter was reset", "/proc/meminfo: MemFree is negative". "" when it knows
// nothing more (always on Windows and the table); the status words then say
// it all.
std::string failure_detail(Query query, Counter counter);

// What the system can add about an object that an add reported
// CSTATUS_NO_OBJECT for: a clause for the end of that report, or "" when
// there is nothing to add. Windows asks with English adds in a query of its
// own, never with the object enumeration (which Wine lacks): when
// "\Processor(_Total)\% Processor Time" is unknown as well (NO_OBJECT or
// NO_COUNTER), every object is missing because the counter registry is
// damaged; when `object` is "Process" (ASCII case folded) and
// "\Process V2(*)\% Processor Time" adds, the system serves processes under that
// name (some Windows Server 2022 installs). Where PdhAddEnglishCounterA is
// missing, English probes would fail on a localized system: "". Linux and
// the table: always "". Costs one query and at most two adds; call it only
// after the failure. Example, on such a server:
//   describe_missing_object("Process") -> "this system serves processes as
//   the object \"Process V2\", instances \"name:pid\""
std::string describe_missing_object(const char* object);

// ------------------------------------------------------------------ discovery

// The discovery operations, for naming the one a system lacks.
enum class Discovery { object_enumeration, counter_enumeration, wildcard_expansion };

// The operation in words: "object enumeration", "counter enumeration",
// "wildcard expansion".
const char* discovery_words(Discovery operation);
// The same with the system call that provides it, for the report of a
// NOT_IMPLEMENTED: "object enumeration (PdhEnumObjectsA)" on Windows; where
// the backend serves discovery itself (Linux, the table), the words alone.
std::string missing_call(Discovery operation);

enum class CounterKind { unknown, gauge, count, rate, percent, average, fraction, elapsed };

struct CounterInfo {
  std::string name;  // "% Processor Time"
  CounterKind kind = CounterKind::unknown;
  std::string unit;         // "%", "B", "s" or "" (counts and rates)
  std::string explanation;  // one line; empty where the system gives none
  std::string source;       // Linux: "/proc/stat (user+nice)"; may be empty elsewhere
  // The raw form (see calculate_from_raw): the system's counter type
  // (TYPE_* of perfdata/counter_types.h, the system's PERF_* numbers; 0 where the counter has no
  // raw series), the ticks per second of the clock its raw records count in (0 where the system
  // gives none; never assume 10^7), and the power of ten a display would scale the value by. No
  // value the interface formats is scaled: the default scale is for a person's graph.
  uint32_t type = 0;
  int64_t time_base = 0;
  int32_t default_scale = 0;
};

// All objects, one name each, in the backend's order.
Status enum_objects(std::vector<std::string>* objects);

// One object's counters and its current instances (duplicates as "name#k",
// plus "_Total" where served); instances stay empty for single-instance
// objects. CSTATUS_NO_OBJECT for an unknown object.
Status enum_object_items(const char* object, std::vector<CounterInfo>* counters,
                         std::vector<std::string>* instances);

// The full paths ("\Object(Instance)\Counter", no computer name) that a path
// with '*' in the instance or the counter matches now. '*' is any run of
// bytes, ASCII case folded; _Total is included where it matches. No match is
// status 0 with no paths; an unknown object is CSTATUS_NO_OBJECT and a path
// that does not parse is CSTATUS_BAD_COUNTERNAME.
Status expand_wildcard_path(const char* path, std::vector<std::string>* paths);

// What is known of an added counter: Linux from its catalogue row, the table
// from its row, Windows from the counter type the system reports and its name.
Status get_counter_info(Counter counter, CounterInfo* info);

// ------------------------------------------------------------------ raw values

// One raw record of a counter at one collection: what a value is formed
// from. `time_stamp` is when the collection was taken, in 100 ns units (on
// Windows the system time; on Linux and the table a clock of their own:
// compare time stamps of one backend only). What `first_value` and
// `second_value` hold is the counter type's (a count and a clock in time-base
// ticks for a rate, a time and its base for an average, a part and its whole
// for a fraction). c_status 0 or 1 is a usable record.
struct RawCounter {
  uint32_t c_status = 0;
  int64_t time_stamp = 0;
  int64_t first_value = 0;
  int64_t second_value = 0;
  uint32_t multi_count = 1;
};

// One instance of an array counter's raw read.
struct RawArrayItem {
  std::string name;  // as get_formatted_counter_array names it: "svchost#1"
  RawCounter raw;
};

// The raw record of an added counter at the latest collection: status 0
// when a record was read, whose c_status says whether it is usable
// (CSTATUS_INVALID_DATA before the first collection, or where the instance
// has ended). A counter that has no raw series (CounterInfo::type 0: on
// Linux the rows whose catalogue entry says no type expresses them) is
// NOT_IMPLEMENTED; INVALID_HANDLE for a null counter;
// an array counter is read with get_raw_counter_array. Example, Windows,
// "\Processor(_Total)\% Processor Time" -> 0, {c_status 0, time_stamp the
// collection's system time, first_value the CPUs' idle time, second_value
// their elapsed time, both in 100 ns}.
Status get_raw_counter_value(Counter counter, RawCounter* raw);

// Every instance of an array counter at the latest collection, named,
// "#k"-numbered and ordered as get_formatted_counter_array names and orders
// its items ("_Total" last). A raw record needs no earlier collection, so
// after one collection every instance is here, and after two these are the
// formatted array's instances plus any that began since. Before the first
// collection CSTATUS_INVALID_DATA; where the system lacks the array read,
// NOT_IMPLEMENTED as at the add.
Status get_raw_counter_array(Counter counter, std::vector<RawArrayItem>* items);

// The value of a counter of `form.type` from two raw records of one
// instance, `newer` and the `older` one (null is allowed for the types that
// need one record: raw counts, fractions, elapsed time), with the counter
// type's own formula (perfdata/counter_types.h), percentages held to 0..100
// unless `format` has FMT_NOCAP100. Needs no counter handle: a record kept
// from an earlier run and today's record give the value over the whole time
// between them. Only form.type and form.time_base are read (no value is
// scaled, so the default scale takes no part). Returns 0 with `value` set, or CSTATUS_INVALID_DATA
// with value->c_status the same (a record not valid, a clock that did not advance, a count that
// went down other than by a 32-bit wrap, a missing older record), or NOT_IMPLEMENTED for a type
// without a formula here. Example: % Processor Time (TYPE_100NSEC_TIMER_INV), idle 4,000,000 of
// 10,000,000 (100 ns) between the records -> 60.
Status calculate_from_raw(const CounterInfo& form, uint32_t format, const RawCounter* newer,
                          const RawCounter* older, CounterValue* value);

// The same for an added counter, with the type and time base it carries:
// Windows asks the system's own calculation (PdhCalculateCounterFromRawValue;
// a null `older` is passed as the newer record again, as Wine reads it
// whatever the type), Linux and the table take get_counter_info and
// calculate_from_raw. calculate_from_raw itself is the same formulas on
// every backend, Windows included. Wine 8 answers status 0 with values
// that mean nothing.
Status calculate_counter_from_raw(Counter counter, uint32_t format, const RawCounter* newer,
                                  const RawCounter* older, CounterValue* value);

// "gauge", "count", "rate", "percent", "average", "fraction", "elapsed" or
// "unknown"; kind_from_word is its inverse (unknown for any other word).
const char* kind_word(CounterKind kind);
CounterKind kind_from_word(const std::string& word);

// True for the kinds whose value is formed from two collections (rate,
// percent, average): one collection gives CSTATUS_INVALID_DATA for them.
bool needs_two_samples(CounterKind kind);

// A status in words for a person reading a check result: "no such object",
// "no such counter", "no such instance", "no such computer", "counter not
// validated", "data not valid yet", "malformed counter path", "not provided
// by this system"; any other status as "status 0x" and eight
// upper-case hex digits: status_words(0xC0000BBC) -> "status 0xC0000BBC".
std::string status_words(Status status);

}  // namespace perfdata
