// The samples a check keeps between its runs, and the rules for using one:
// a versioned text of raw records (perfdata.h's RawCounter) with the key of
// the check, the boot and the collection time, its strict parser, the
// instance matching that keeps identity, and the one judgement whether a
// stored record may be paired with today's. Pure: no file, no clock, no
// backend (platform/state_file.h holds the file).
//
// The text, one record a line, fields separated by one space; a name or
// path is the rest of its line, with '%', bytes below 0x20 and 0x7f written
// as %XX (two upper-case hex digits):
//   vantric-state 1
//   key <16 lower-case hex digits>
//   boot <boot identity, no space>
//   collected <wall clock of the collection, 100 ns since 1970, decimal>
//   counter <type, 0x + 8 hex digits> <time base> <path>
//   name <c_status> <time_stamp> <first> <second> <multi_count> <instance name>
//   process <pid> <start time> <c_status> <time_stamp> <first> <second> <multi_count> <name>
//   end
// Each name or process line belongs to the counter line above it; a
// counter without instances is allowed. Example:
//   vantric-state 1
//   key 9f2c41d07a3be815
//   boot 4b1c0e3a-2d7f-4a8e-9c61-0d3e5f7a8b9c
//   collected 17652240000000000
//   counter 0x21510500 10000000 \Processor(_Total)\%25 Processor Time
//   name 0 17652240000000000 1000000000 5000000000 1 _Total
//   end
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "perfdata/perfdata.h"

namespace perfdata {

// Who a record belongs to: a process by its id and start time (a new
// process with an old one's name and even its id is another), any other
// instance by name ("" for a counter without instances).
struct InstanceIdentity {
  std::string name;
  bool process = false;
  uint64_t pid = 0;
  uint64_t start_time = 0;  // the backend's own units; only compared
};

struct StoredInstance {
  InstanceIdentity identity;
  RawCounter raw;
};

struct StoredCounter {
  std::string path;  // the counter's normalized path
  uint32_t type = 0;
  int64_t time_base = 0;
  std::vector<StoredInstance> instances;
};

struct SampleState {
  std::string key;        // state_key of the check
  std::string boot;       // platform::read_boot_identity; no space or control byte
  int64_t collected = 0;  // wall clock, 100 ns since 1970
  std::vector<StoredCounter> counters;
};

// FNV-1a 64 over the parts, each preceded by its length as 8 bytes (little
// end first), so {"ab", "c"} and {"a", "bc"} differ; the same on every
// platform and run. As 16 lower-case hex digits: the key and the state
// file's name. Example: state_key({}) = "cbf29ce484222325".
std::string state_key(const std::vector<std::string>& parts);

// The text above. Names and paths are escaped, so any bytes round-trip.
std::string write_sample_state(const SampleState& state);

// Parses `text` strictly: the first line exactly "vantric-state 1", each
// field present, in range (c_status and multi_count 32 bits, the rest 64)
// and in the writer's one spelling (no leading zero, no other escape),
// "end" present and nothing after it. False with `why` naming the line ("line 5: expected
// 'name' or 'process' or 'counter' or 'end'", "not a state file (first line
// \"GIF89a\")", "version 2 is not read by this version", "truncated: no end
// line"); `state` is then unchanged.
bool parse_sample_state(std::string_view text, SampleState* state, std::string* why);

// The stored instance of `counter` with the identity `who`, or null: a
// process matches by pid and start time (its name may have changed its #k
// number), any other instance by name.
const StoredInstance* find_instance(const StoredCounter& counter, const InstanceIdentity& who);

// What a run knows about one side of the pairing.
struct SampleContext {
  std::string_view boot;
  int64_t collected = 0;  // wall clock, 100 ns since 1970
  uint32_t type = 0;
  int64_t time_base = 0;
};

enum class Use {
  pair,      // the stored record and today's give the value since the last run
  baseline,  // not usable: take today's pair over the sample interval, store today's record
  too_soon,  // a window under the minimum: take today's pair, leave the stored record as it is
};

struct Judgement {
  Use use = Use::baseline;
  std::string reason;  // empty for pair; else why ("stored in another boot")
};

constexpr int64_t kMinimumWindow = 1000000;  // 100 ms in 100 ns units

// Judges the stored record `stored` (null: none, the first run or a new
// instance) against today's `newer` of the same counter and instance, in
// this order, with the reason:
//   no record                      "no stored sample (first run or new instance)"
//   another boot                   "stored in another boot"
//   stored.collected > today's, or stored time stamp > today's
//                                  "stored sample is from the future"
//   today - stored > max_age       "stored sample is <s> s old, more than <m> s"
//   another type or time base      "counter type changed from 0x... to 0x..." /
//                                  "time base changed from <a> to <b>"
//   a record not valid (c_status)  "today's record is not valid (status 0x...)",
//                                  "stored record is not valid (status 0x...)"
//   window < kMinimumWindow        too_soon, "window of <n> ms is under 100 ms"
//   no value from the pair         "a value went down, not by a 32-bit wrap (a reset)"
//                                  or "the counter's clock did not advance"
// Ages and windows are of the records' time stamps (one backend, one boot)
// and of the wall clocks of collection; both must agree. A type that reads
// only today's record (raw counts) pairs whenever the above hold.
// Example: stored 60 s before today, same boot and type, counts up -> pair.
Judgement judge_stored_sample(const SampleContext& then, const RawCounter* stored,
                              const SampleContext& today, const RawCounter& newer, int64_t max_age);

}  // namespace perfdata
