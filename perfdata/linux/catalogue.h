// The Linux counter catalogue: the framework every performance object plugs
// into. The catalogue rows are the one place where a counter's kind, unit,
// explanation and Linux source are written; discovery and the generated
// counter reference read them.
//
// An object is data: an ObjectDef naming the object, a table of CounterDef
// rows, and one function, `pass`, that reads the object's sources once per
// collection and gives every instance asked for its Sample (with _Total
// computed in the same pass). Each row states its raw form: the counter type
// whose formula (perfdata/counter_types.h) gives its value and how one
// instance's sample gives that type's first and second values; the value is
// then that formula over the raw records of two samples. A row no type
// expresses has a `value` of its own, a pure function of two samples of one
// instance, and its raw form says why. The query (query.cpp) owns the add-time status
// order, the value statuses and the percent cap; an object never sees a path.
//
// Registration: each object file defines one accessor declared below; the
// registry (catalogue.cpp) lists every accessor in all_objects().
//
// Worked example. "\Processor(1)\% User Time": the query finds the object
// "processor" (ASCII case ignored), its row "% User Time" (kind percent,
// needs = the /proc/stat bit), lists the instances with a pass that asks for
// every instance and no sources -> {"_Total" key "cpu", "0", "1"}, pins
// {"1", key "cpu1", id 1}. Each collect() runs one pass with the pins and
// the union of their rows' needs; format() finds the pinned instance in the
// last two passes, has the row's raw form make a record of each (first value
// user+nice ticks, second value all ticks, both in 100 ns) and applies
// TYPE_100NSEC_TIMER: 100 * (du + dn) / T = 12.5, capped to [0, 100] unless
// FMT_NOCAP100.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "perfdata/counter_types.h"
#include "perfdata/linux/env.h"
#include "perfdata/perfdata.h"

namespace perfdata::linux_backend {

// What one pass read for one instance. The layout of `u` and `f` is the
// object's own; `payload` carries anything larger (for example a per-process
// table that a _Total formula differences key by key), shared between the
// instances of one pass where they read the same table.
struct Sample {
  bool ok = false;          // false: the instance's own source is malformed or unreadable
  uint32_t missing = 0;     // source bits that could not be read for this instance
  std::vector<uint64_t> u;  // counts and gauges as read
  std::vector<double> f;    // derived or signed values
  std::shared_ptr<const void> payload;
  // Why a source of this instance could not be read or holds a value out
  // of range ("cannot read /proc/42/io: Permission denied"); "" when it is
  // merely absent or all is well.
  std::string problem;
  // Set by the object's carry: a count this sample sums went back since the
  // previous pass, a reset the sum itself may not show (another count rose
  // more). The interval ending here has no value.
  bool reset = false;
};

// A counter's value, or std::nullopt for CSTATUS_INVALID_DATA.
using Value = std::optional<double>;

// For R/P/A the query calls only with prev and cur both ok and dt > 0. For
// G/C/F/E it calls with cur ok; prev is then the previous sample when that one
// is ok, else null (and dt is 0). A non-finite result becomes INVALID_DATA.
using Formula = Value (*)(const Sample* prev, const Sample& cur, double dt, const Env& env);

// The clock of a raw record's second value where it is a clock, as its
// ticks per second: the collection's time stamp (100 ns, 10^7); the same
// clock in milliseconds, beside the kernel's millisecond counts (10^3); the
// kernel's clock ticks (HZ); or the time stamp read as KiB moved, where a
// rate of pages comes from KiB counts (10^7 * 1024 / page size).
enum class TimeBase { stamp, ms, ticks, pages };

// How one instance's sample gives a raw record for the row's counter type:
// `stamp` is the collection's time in 100 ns on the layer's monotonic clock.
// Sets first_value and second_value; false when the sample holds no record
// (a field absent or unreadable: INVALID_DATA).
using RawFill = bool (*)(const Sample& s, int64_t stamp, const Env& env, RawCounter& out);

// A row's raw form. With `type` non-zero the row's value is the formula of
// that counter type over two raw records (perfdata/counter_types.h) and the
// row has no formula of its own. `ulong`: the first value is a field the
// kernel keeps in unsigned long (or a sum of such), so on a kernel whose
// unsigned long is 32 bits wide the 32-bit form of the type is served and
// the first value is taken modulo 2^32 (a sum of wrapping fields wraps with
// them). `form` says in one line what the two values are, or, with type 0,
// why no counter type expresses the row.
struct RawForm {
  uint32_t type = 0;
  RawFill fill = nullptr;
  TimeBase base = TimeBase::stamp;
  bool ulong = false;
  const char* form = nullptr;
};

// The forms most rows take: a cumulative count against the layer's time
// stamp (`ulong`: a field the kernel keeps in unsigned long, 32 bits wide
// on a 32-bit kernel), and a 64-bit count or gauge as it stands.
constexpr RawForm bulk_count(RawFill fill, const char* form, bool ulong = false) {
  return {TYPE_COUNTER_BULK_COUNT, fill, TimeBase::stamp, ulong, form};
}
constexpr RawForm large_count(RawFill fill, const char* form = "first value the count") {
  return {TYPE_COUNTER_LARGE_RAWCOUNT, fill, TimeBase::stamp, false, form};
}

struct CounterDef {
  const char* object;  // the object's name, repeated so a row reads on its own
  const char* name;    // served counter name, matched ignoring ASCII case
  // gauge, count, rate, percent (of deltas), average (of deltas), fraction
  // (an instant share in percent) or elapsed (seconds).
  CounterKind kind;
  uint32_t needs;           // object-defined bit set of sources collect() must read
  Formula value;            // null where `raw` has a type: the type's formula gives the value
  const char* unit;         // "%", "B", "s", or "" for counts and rates
  const char* explanation;  // one line: what the value means
  const char* source;       // the Linux source and fields it is computed from
  RawForm raw = {};
};

// The row as discovery reports it, with its counter type and time base as
// served on the kernel `env` describes (0 and 0 for a row without a raw form;
// by default a 64-bit kernel with HZ 100 and 4 KiB pages).
CounterInfo counter_info(const CounterDef& row, const Env& env = Env{});
// The counter type served for `row` on `env`'s kernel: raw.type, or its
// 32-bit form (COUNTER_COUNTER for BULK_COUNT, QUEUELEN for LARGE_QUEUELEN)
// for a `ulong` row on a 32-bit kernel.
uint32_t raw_type(const CounterDef& row, const Env& env);
// Ticks per second of raw.base on `env`: 10^7, 1000, HZ, 10^7*1024/page size.
int64_t raw_time_base(const CounterDef& row, const Env& env);
// The raw record of one instance: c_status 0 with the values raw.fill gives
// (first value cut to 32 bits where the served type reads 32 bits), time
// stamp `stamp`; CSTATUS_INVALID_DATA with zeros where the sample is not ok,
// misses a source the row needs, or gives no record.
RawCounter raw_record(const CounterDef& row, const Sample& s, int64_t stamp, const Env& env);
// Raw fills for samples that keep counts in Sample::u: the sum of the slots
// as the first value, false when one holds kNoValue (a field the source
// lacked); slots_per_stamp has the time stamp as the second value.
constexpr uint64_t kNoValue = UINT64_MAX;
bool slot_sum(const Sample& s, std::initializer_list<size_t> slots, RawCounter& out);
template <size_t... Slots>
bool slots_now(const Sample& s, int64_t, const Env&, RawCounter& out) {
  return slot_sum(s, {Slots...}, out);
}
template <size_t... Slots>
bool slots_per_stamp(const Sample& s, int64_t stamp, const Env&, RawCounter& out) {
  out.second_value = stamp;
  return slot_sum(s, {Slots...}, out);
}
// Ticks of the kernel's clock (HZ) in 100 ns: 25 ticks at HZ 100 -> 2,500,000.
int64_t ticks_100ns(uint64_t ticks, const Env& env);
// The collection time stamp (100 ns) on the millisecond clock of TimeBase::ms.
constexpr int64_t stamp_ms(int64_t stamp) { return stamp / 10000; }
// Percent and fraction rows are shares in percent: clamped to [0, 100]
// unless FMT_NOCAP100.
constexpr bool is_percent(const CounterDef& row) {
  return row.kind == CounterKind::percent || row.kind == CounterKind::fraction;
}

// One served instance. `name` is the display name (already mangled where the
// object mangles); `key`, `id` and `start` are the object's identity: `key`
// is unique within one pass (a raw source name, "cpuN", a PID, "0" for
// Idle; "" for _Total but Processor's "cpu", and for the one instance of a
// single-instance object), `id` a CPU number or PID (-1 for _Total), `start`
// a process start time. A pass lists instances in group order (source order, or (starttime,
// pid) for processes); '#k' derives from that order.
struct Instance {
  std::string name;
  std::string key;
  int64_t id = -1;
  uint64_t start = 0;
  bool same(const Instance& o) const { return key == o.key && id == o.id && start == o.start; }
};

// What a collection asks of an object.
struct Request {
  bool every = false;  // list every instance (an add, an array counter, a pinned _Total)
  uint32_t needs = 0;  // sources to read for every instance listed
  // Instances pinned at add, by key, with the sources their counters need.
  std::unordered_map<std::string, uint32_t> pins;
  uint32_t pin_needs = 0;  // the union of the pins' needs

  // The sources to read for the instance with `key`.
  uint32_t needs_of(const std::string& key) const {
    auto it = pins.find(key);
    return it == pins.end() ? needs : needs | it->second;
  }
  // Whether the instance with `key` is listed.
  bool wants(const std::string& key) const { return every || pins.count(key) != 0; }
  uint32_t all_needs() const { return needs | pin_needs; }
};

// One pass over an object's sources at one collection.
struct Pass {
  bool ok = false;  // the primary source was read; false at an add is NO_OBJECT
  // With ok false: why the primary source, which is there, could not be
  // read ("cannot read /proc/stat: Too many open files"); "" when it is absent.
  std::string problem;
  std::vector<Instance> instances;  // every instance, or the wanted ones that exist
  std::vector<Sample> samples;      // parallel to `instances`
};

struct ObjectDef {
  const char* name;     // "Processor"
  bool multi_instance;  // false: Memory, System, TCPv4 (an instance in the path is NO_INSTANCE)
  std::span<const CounterDef> counters;
  // Reads the object's sources once for `req`: lists the instances (none for
  // a request that wants none: it only checks the primary source) and, for
  // each, the sources its needs name, into `out` (which arrives empty). A
  // source that fails for one instance sets that instance's `missing` bits;
  // an instance that vanished while being read is left out.
  void (*pass)(const Env& env, const Request& req, Pass& out);
  // Instance lookup rules beyond the common ones (see InstanceIndex).
  bool strip_trailing_slash = false;  // LogicalDisk: "/var/" finds "/var" (but "/" stays "/")
  size_t truncated_name_len = 0;      // Process: 15; a longer request matches on its first 15 bytes
  // Called by the query after each pass whose previous pass was ok, before
  // any value is read: lets an object keep a cumulative count running from
  // pass to pass (Process _Total keeps the counts of processes that ended).
  void (*carry)(const Pass& prev, Pass& cur) = nullptr;
};

// The pass of a single-instance object: `primary` is the file whose absence
// is NO_OBJECT; `collect` fills the one sample from the sources in `needs`.
void single_instance_pass(const Env& env, const Request& req, Pass& out, std::string_view primary,
                          void (*collect)(const Env& env, uint32_t needs, Sample& out));

// Appends an instance and its (empty) sample to `out`; returns the sample.
Sample& add_instance(Pass& out, Instance inst);

// ---------------------------------------------------------------------------
// Registration. Each accessor is defined in its object's own .cpp file.

const ObjectDef& processor_object();          // processor.cpp
const ObjectDef& memory_object();             // memory.cpp
const ObjectDef& paging_file_object();        // paging_file.cpp
const ObjectDef& system_object();             // system.cpp
const ObjectDef& logical_disk_object();       // logical_disk.cpp
const ObjectDef& physical_disk_object();      // physical_disk.cpp
const ObjectDef& network_interface_object();  // network_interface.cpp
const ObjectDef& process_object();            // process.cpp
const ObjectDef& tcpv4_object();              // tcpv4.cpp

// Every served object, in a fixed order.
std::span<const ObjectDef* const> all_objects();

// The object named `name` ignoring ASCII case, or null.
const ObjectDef* find_object(std::string_view name);
// The row named `name` ignoring ASCII case, or null.
const CounterDef* find_counter(const ObjectDef& obj, std::string_view name);

// ---------------------------------------------------------------------------
// Shared by the formulas and instance lists.

// cur - prev for a cumulative count that is 64 bits wide: any decrease is a
// reset (interface re-created, driver reloaded), std::nullopt (INVALID_DATA);
// a drop is never a wrap, which would report a false spike.
// delta(10, 15) = 5; delta(3000000000, 500000000) = nullopt.
std::optional<uint64_t> delta(uint64_t prev, uint64_t cur);
// The same for a field the kernel keeps in 32 bits (diskstats f4 f8 f10 f11,
// /proc/interrupts cells): a plausible wrap (prev <= 2^32-1 and
// cur + 2^32 - prev < 2^31) is that difference; any other decrease a reset.
// delta32(0xFFFFFFF0, 0x10) = 0x20; delta32(5000, 3) = nullopt.
std::optional<uint64_t> delta32(uint64_t prev, uint64_t cur);
// A field printed from the kernel's unsigned long: delta32 on a kernel whose
// unsigned long is 32 bits wide (env.ulong_bits), else delta.
std::optional<uint64_t> delta_ulong(const Env& env, uint64_t prev, uint64_t cur);

// Whether delta, delta32 or delta_ulong met a reset since the last call on
// this thread, which clears it: the query asks after a formula gave no value,
// to say "counter was reset" rather than only that the value is invalid.
bool take_reset();

// Instance display name: '(' -> '[', ')' -> ']'; '#', '\', '/' (unless
// `keep_slash`: mount points), '*', '|' and control bytes (0x00-0x1F, 0x7F)
// -> '_'; an empty name is "_". mangle("kworker/0:0-events") =
// "kworker_0:0-events"; mangle("/mnt/backup#2", true) = "/mnt/backup_2".
std::string mangle(std::string_view raw, bool keep_slash = false);

// The display names of `list` as a path gives them: the k-th (k > 0) member
// of a group of names equal ignoring ASCII case becomes "name#k". Linear.
std::vector<std::string> numbered_names(const std::vector<Instance>& list);

// Finds instances by the name a request gives. `index` is the parsed '#k' (0
// if none). Rules: the request (after the object's trailing-slash rule) is
// matched first byte for byte, then ignoring ASCII case; when the
// case-insensitive group of the matched name has several members, `index`
// picks among them in their order in the list (0 = first). A request longer
// than obj.truncated_name_len also matches a name of exactly that length on
// its first bytes. Built once per listing; each lookup costs one hash probe.
class InstanceIndex {
 public:
  InstanceIndex(const ObjectDef& obj, const std::vector<Instance>& list);
  // The position in the list, or std::nullopt (NO_INSTANCE).
  std::optional<size_t> find(std::string_view name, uint32_t index) const;

 private:
  const ObjectDef& obj_;
  std::unordered_map<std::string_view, size_t> exact_;           // first of each exact name
  std::unordered_map<std::string, std::vector<size_t>> groups_;  // folded name -> members
};

// Whether a wildcard `pattern` ('*' any run of bytes, ASCII case folded)
// names the instance `name` whose display name carries `suffix` ("#2" or
// ""). For an object that cuts names (Process: 15 bytes), a name of exactly
// that length also matches when the pattern matches it followed by more
// bytes, as a plain lookup accepts "longprocessnamex" for
// "longprocessname": pattern "longprocessnamex*" matches it.
bool instance_matches(const ObjectDef& obj, std::string_view pattern, std::string_view name,
                      std::string_view suffix);

// Clamps a percent value to [0, 100].
double cap_percent(double v);

}  // namespace perfdata::linux_backend
