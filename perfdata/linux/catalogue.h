// The Linux counter catalogue: the framework every performance object plugs
// into. The catalogue rows are the one place where a counter's kind, unit,
// explanation and Linux source are written; discovery and the generated
// counter reference read them.
//
// An object is data: an ObjectDef naming the object, a table of CounterDef
// rows, and two functions: `enumerate` lists the instances (add-time checks,
// '#k' grouping, discovery), `collect` reads one pinned instance into a
// Sample, reading only the sources the counter's `needs` bits name; each
// row's `value` is a pure function of two samples. The query (query.cpp) owns
// the add-time status order, the value statuses and the percent cap; an
// object never sees a path.
//
// Registration: each object file defines one accessor declared below; the
// registry (catalogue.cpp) lists every accessor in all_objects().
//
// Worked example. "\Processor(1)\% User Time": the query finds the object
// "processor" (ASCII case ignored), its row "% User Time" (kind percent,
// needs = the /proc/stat bit), calls enumerate() -> {"_Total" id -1, "0" id 0,
// "1" id 1}, pins {"1", id 1}. Each collect() calls the object's collect with
// that Instance and the row's needs; format() calls the row's value(prev,
// cur, dt, env), e.g. 100 * (du + dn) / T = 12.5, and caps it to [0, 100]
// unless FMT_NOCAP100 is passed.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "perfdata/linux/env.h"
#include "perfdata/perfdata.h"

namespace perfdata::linux_backend {

// What one collect() read for one pinned instance. The layout of `u` and `f`
// is the object's own; `payload` carries anything larger (for example a
// per-process table that a _Total formula differences key by key).
struct Sample {
  bool ok = false;          // false: source missing, unreadable, malformed, or the instance is gone
  std::vector<uint64_t> u;  // counts and gauges as read
  std::vector<double> f;    // derived or signed values
  std::shared_ptr<const void> payload;
};

// A counter's value, or std::nullopt for CSTATUS_INVALID_DATA.
using Value = std::optional<double>;

// For R/P/A the query calls only with prev and cur both ok and dt > 0. For
// G/C/F/E it calls with cur ok; prev is then the previous sample when that one
// is ok, else null (and dt is 0). A non-finite result becomes INVALID_DATA.
using Formula = Value (*)(const Sample* prev, const Sample& cur, double dt, const Env& env);

// True for kinds that need two samples (rate, percent, average).
constexpr bool needs_two_samples(CounterKind k) {
  return k == CounterKind::rate || k == CounterKind::percent || k == CounterKind::average;
}

struct CounterDef {
  const char* object;  // the object's name, repeated so a row reads on its own
  const char* name;    // served counter name, matched ignoring ASCII case
  // gauge, count, rate, percent (of deltas), average (of deltas), fraction
  // (an instant share in percent) or elapsed (seconds).
  CounterKind kind;
  uint32_t needs;  // object-defined bit set of sources collect() must read
  Formula value;
  const char* unit;         // "%", "B", "s", or "" for counts and rates
  const char* explanation;  // one line: what the value means
  const char* source;       // the Linux source and fields it is computed from
};

// The row as discovery reports it.
CounterInfo counter_info(const CounterDef& row);
// Percent and fraction rows are shares in percent: clamped to [0, 100]
// unless FMT_NOCAP100.
constexpr bool is_percent(const CounterDef& row) {
  return row.kind == CounterKind::percent || row.kind == CounterKind::fraction;
}

// One served instance. `name` is the display name (already mangled where the
// object mangles); `key`, `id` and `start` are the object's identity for
// collect(): a raw source name, a CPU number or PID (-1 for _Total), a process
// start time. enumerate() returns instances in group order (source order, or
// (starttime, pid) for processes); '#k' derives from that order.
struct Instance {
  std::string name;
  std::string key;
  int64_t id = -1;
  uint64_t start = 0;
};

struct ObjectDef {
  const char* name;     // "Processor"
  bool multi_instance;  // false: Memory, System, TCPv4 (an instance in the path is NO_INSTANCE)
  std::span<const CounterDef> counters;
  // Lists the instances into `out` (left empty for single-instance objects).
  // Returns false when the object's primary source is missing or unreadable:
  // the add then fails with NO_OBJECT.
  bool (*enumerate)(const Env& env, std::vector<Instance>& out);
  // Reads `inst` into `out` (which arrives default-constructed), reading only
  // the sources in `needs`; leaves out.ok false on any failure. `prev` is the
  // previous sample of the same counter or null.
  void (*collect)(const Env& env, const Instance& inst, uint32_t needs, const Sample* prev,
                  Sample& out);
  // Instance lookup rules beyond the common ones (see find_instance).
  bool strip_trailing_slash = false;  // LogicalDisk: "/var/" finds "/var" (but "/" stays "/")
  size_t truncated_name_len = 0;      // Process: 15; a longer request matches on its first 15 bytes
};

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

// Instance display name: '(' -> '[', ')' -> ']', '#', '\' and '/' -> '_'.
// mangle("kworker/0:0-events") = "kworker_0:0-events".
std::string mangle(std::string_view raw);

// Finds the instance a request names. `index` is the parsed '#k' (0 if none).
// Rules: the request (after the object's trailing-slash rule) is matched first
// byte for byte, then ignoring ASCII case; when the case-insensitive group of
// the matched name has several members, `index` picks among them in their
// order in `list` (0 = first). A request longer than obj.truncated_name_len
// also matches a name of exactly that length on its first bytes. Returns the
// position in `list`, or std::nullopt (NO_INSTANCE).
std::optional<size_t> find_instance(const ObjectDef& obj, const std::vector<Instance>& list,
                                    std::string_view name, uint32_t index);

// Clamps a percent value to [0, 100].
double cap_percent(double v);

}  // namespace perfdata::linux_backend
