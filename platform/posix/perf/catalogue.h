// The Linux counter catalogue: the framework every performance object plugs
// into, and the helpers the objects share.
//
// An object is data: an ObjectDef naming the object, a table of CounterDef
// rows, and three functions: `enumerate` lists the instances (add-time
// checks, '#k' grouping, discovery), `collect` reads one pinned instance into
// a Sample, reading only the sources the counter's `needs` bits name, and each
// row's `value` is a pure function of two samples. The core (core.cpp) owns
// the path grammar, machine and instance matching, the add-time status order,
// the value statuses and the percent cap; an object never sees a path.
//
// Registration: each object file defines one accessor declared below
// (`const ObjectDef& processor_object()` ...). The core lists every accessor
// in `all_objects()`, so an object added in its own .cpp file needs no edit
// to the core files beyond its line in that list.
//
// Worked example. "\Processor(1)\% User Time": the core finds the object
// "processor" (ASCII case ignored), its row "% User Time" (kind P, percent,
// needs = the /proc/stat bit), calls enumerate() -> {"_Total" id -1, "0" id 0,
// "1" id 1}, pins {"1", id 1}. Each collect() calls the object's collect with
// that Instance and the row's needs; format() calls the row's value(prev,
// cur, dt, env), e.g. 100 * (du + dn) / T = 12.5, and caps it to [0, 100]
// unless FMT_NOCAP100 is passed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/perfdata.h"

namespace linperf {

using Status = pdh::Status;

// ---------------------------------------------------------------------------
// Environment: every file the layer reads is env.root + a relative path like
// "proc/stat"; tests point root at a temporary tree and inject the clock,
// tick rate, page size and disk-space call.

struct FsStat {
  uint64_t frsize = 0, blocks = 0, bfree = 0, bavail = 0;
};

struct Env {
  std::string root = "/";                      // "/" or a directory; a missing trailing '/' is allowed
  std::function<double()> monotonic;           // seconds; default CLOCK_MONOTONIC
  long clk_tck = 100;                          // set from sysconf(_SC_CLK_TCK) by default_env()
  long page_size = 4096;                       // set from sysconf(_SC_PAGESIZE) by default_env()
  // Returns 0 and fills `out` for the real path `path` (already joined with
  // root), or -1 on failure.
  std::function<int(const std::string& path, FsStat& out)> statvfs;
};

// The real machine: root "/", CLOCK_MONOTONIC, sysconf values, ::statvfs.
Env default_env();

// root + rel, with exactly one '/' between them. source(env, "proc/stat").
std::string source(const Env& env, std::string_view rel);

// ---------------------------------------------------------------------------
// Samples and formulas.

// What one collect() read for one pinned instance. The layout of `u` and `f`
// is the object's own; `payload` carries anything larger (for example a
// per-process table that a _Total formula differences key by key).
struct Sample {
  bool ok = false;         // false: source missing, unreadable, malformed, or the instance is gone
  std::vector<uint64_t> u; // counts and gauges as read
  std::vector<double> f;   // derived or signed values
  std::shared_ptr<const void> payload;
};

// A counter's value, or std::nullopt for PDH_CSTATUS_INVALID_DATA.
using Value = std::optional<double>;

// For R/P/A the core calls only with prev and cur both ok and dt > 0. For
// G/C/F/E it calls with cur ok; prev is then the previous sample when that one
// is ok, else null (and dt is 0). A non-finite result is turned into
// INVALID_DATA by the core.
using Formula = Value (*)(const Sample* prev, const Sample& cur, double dt, const Env& env);

enum class Kind : char {
  G = 'G',  // gauge: value at the latest collection
  C = 'C',  // raw cumulative count since boot
  R = 'R',  // rate: delta / dt
  P = 'P',  // percent of deltas
  A = 'A',  // average of deltas
  F = 'F',  // instant fraction in percent
  E = 'E',  // elapsed seconds
};

// True for kinds that need two samples (R, P, A).
constexpr bool needs_two_samples(Kind k) { return k == Kind::R || k == Kind::P || k == Kind::A; }

struct CounterDef {
  const char* object;   // the object's name, repeated so a row reads on its own
  const char* name;     // served counter name, matched ignoring ASCII case
  Kind kind;
  bool percent;         // clamped to [0, 100] unless FMT_NOCAP100
  uint32_t needs;       // object-defined bit set of sources collect() must read
  Formula value;
};

// One served instance. `name` is the display name (already mangled where the
// object mangles); `key`, `id` and `start` are the object's identity for
// collect(): a raw source name, a CPU number or PID (-1 for _Total), a process
// start time. enumerate() returns instances in group order (source order, or
// (starttime, pid) for processes); the core derives '#k' from that order.
struct Instance {
  std::string name;
  std::string key;
  int64_t id = -1;
  uint64_t start = 0;
};

struct ObjectDef {
  const char* name;                     // "Processor"
  bool multi_instance;                  // false: Memory, System, TCPv4 (an instance in the path is NO_INSTANCE)
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
  bool strip_trailing_slash = false;    // LogicalDisk: "/var/" finds "/var" (but "/" stays "/")
  size_t truncated_name_len = 0;        // Process: 15; a longer request matches on its first 15 bytes
};

// ---------------------------------------------------------------------------
// Registration. Each accessor is defined in its object's own .cpp file.

const ObjectDef& processor_object();          // processor.cpp
const ObjectDef& memory_object();             // memory.cpp
const ObjectDef& paging_file_object();        // paging_file.cpp
const ObjectDef& system_object();             // system.cpp
const ObjectDef& tcpv4_object();              // tcpv4.cpp
const ObjectDef& network_interface_object();  // network_interface.cpp
// Defined by the disk and process object files (logical_disk.cpp,
// physical_disk.cpp, process.cpp); the core lists them like the others.
const ObjectDef& logical_disk_object();
const ObjectDef& physical_disk_object();
const ObjectDef& process_object();

// Every served object, in a fixed order (core.cpp).
std::span<const ObjectDef* const> all_objects();

// The object named `name` ignoring ASCII case, or null.
const ObjectDef* find_object(std::string_view name);
// The row named `name` ignoring ASCII case, or null.
const CounterDef* find_counter(const ObjectDef& obj, std::string_view name);

// ---------------------------------------------------------------------------
// Shared helpers.

// Reads the whole file env.root + rel (or an absolute real path) into `out`.
// False on any error (ENOENT, EACCES, EIO, EINVAL as sysfs gives).
bool read_file(const Env& env, std::string_view rel, std::string& out);
bool read_path(const std::string& path, std::string& out);

// Names in the directory env.root + rel, without "." and "..". False when the
// directory cannot be read.
bool list_dir(const Env& env, std::string_view rel, std::vector<std::string>& out);

// cur - prev for a cumulative count; a plausible 32-bit wrap (prev <= 2^32-1
// and cur + 2^32 - prev < 2^31) gives that difference; any other decrease is
// a reset: std::nullopt (INVALID_DATA).
// delta(10, 15) = 5; delta(0xFFFFFFF0, 0x10) = 0x20; delta(5000, 3) = nullopt.
std::optional<uint64_t> delta(uint64_t prev, uint64_t cur);

// ASCII-only case folding ('A'-'Z' -> 'a'-'z'); never locale dependent.
constexpr char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c; }
bool iequals(std::string_view a, std::string_view b);
std::string folded(std::string_view s);

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

// Parsing helpers. Tokens split on ' ', '\t', '\n' and '\r'; lines on '\n'.
std::vector<std::string_view> split_ws(std::string_view s);
std::vector<std::string_view> split_lines(std::string_view s);
// Whole-token decimal numbers; false on empty text, stray bytes or overflow.
bool parse_u64(std::string_view s, uint64_t& out);
// Seconds since boot from <root>/proc/uptime (its first field), independent
// of the locale; `buf` is scratch space.
bool read_uptime(const Env& env, std::string& buf, double& seconds);
bool parse_i64(std::string_view s, int64_t& out);
// Undoes the kernel's octal escapes ("\040" -> ' ') in /proc/swaps and mountinfo.
std::string unescape_octal(std::string_view s);
// Value of "Key:   123 kB" style lines (meminfo, status): the first number after
// "key:" on the line starting with key; false when absent or malformed.
bool field_value(std::string_view text, std::string_view key, uint64_t& out);

}  // namespace linperf
