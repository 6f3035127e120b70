// One formula per counter type: the value of a counter from two raw records
// of one instance, as the performance-data service of Windows defines it for
// the type. Pure: no backend, no handle, no clock; every backend and a
// stored sample compute through it, so a one-second pair and a pair minutes
// apart give a value by the same rule.
//
// The types are the system's own numbers, named TYPE_X for its PERF_X (which
// the Windows headers define as macros). Symbols: N the first value, D the
// second value, F the time base (ticks per second), 1 the newer
// record and 0 the older one.
//
//   type (N, D widths)            value                             N, D
//   COUNTER_COUNTER (N 32)        (N1 - N0) / ((D1 - D0) / F)       a count, a clock in F ticks
//   COUNTER_BULK_COUNT            the same, N 64 bits
//   COUNTER_TIMER                 100 (N1 - N0) / (D1 - D0)         a time, a clock: F ticks
//   COUNTER_TIMER_INV             100 (1 - (N1 - N0) / (D1 - D0))   an idle time, a clock
//   100NSEC_TIMER, PRECISION_100NS_TIMER   as COUNTER_TIMER, 100 ns ticks (F unused)
//   100NSEC_TIMER_INV             as COUNTER_TIMER_INV, 100 ns ticks (F unused)
//   COUNTER_QUEUELEN_TYPE (N 32)  (N1 - N0) / (D1 - D0)             a summed queue, a clock
//   COUNTER_LARGE_QUEUELEN_TYPE   the same, N 64 bits; 100NS_QUEUELEN_TYPE in 100 ns
//   AVERAGE_TIMER (N 32, D 32)    ((N1 - N0) / F) / (D1 - D0)       a time, the operations
//   AVERAGE_BULK (D 32)           (N1 - N0) / (D1 - D0)             an amount, the operations
//   SAMPLE_FRACTION (N 32, D 32)  100 (N1 - N0) / (D1 - D0)         hits, samples
//   RAW_FRACTION (32), LARGE_     100 N1 / D1 (newer only)          a part, the whole
//   COUNTER_RAWCOUNT (32), LARGE_, _HEX forms   N1 (newer only)     the value
//   ELAPSED_TIME                  (D1 - N1) / F (newer only)        a start, now: F ticks
//
// Failures, all CSTATUS_INVALID_DATA (returned and in value->c_status): a
// record whose c_status is neither 0 nor 1; no older record for a type that
// needs one; a clock that did not advance (D1 <= D0, a zero interval) or a
// time base F <= 0 where F divides; a base of zero for a fraction
// (an average over no operations is 0, as the system shows it); a value
// that went down other than by a 32-bit wrap (a reset: a process, disk or
// interface re-created). A 32-bit field that went down wrapped when the older
// value fits 32 bits and the wrapped difference is below 2^31 (a counter
// that ran more than half its range in one interval is taken for a reset).
// A type not listed above is NOT_IMPLEMENTED. Percentage types (the timers
// and fractions) are held to 0..100 unless `format` has FMT_NOCAP100; no
// value is scaled.
//
// Worked example. "% Processor Time" is TYPE_100NSEC_TIMER_INV with the idle
// time as N and the elapsed time as D, both in 100 ns:
//   older {N 1,000,000,000  D 5,000,000,000}, newer {N 1,004,000,000
//   D 5,010,000,000}: 100 (1 - 4,000,000 / 10,000,000) = 60.
// "Disk Reads/sec" as TYPE_COUNTER_COUNTER with F = 2,243,496 Hz: N 4,294,967,200
// -> 104 (a wrap: 200 reads), D advancing 4,486,992 ticks (2 s) -> 100 reads/s.
#pragma once

#include <cstdint>

#include "perfdata/perfdata.h"

namespace perfdata {

constexpr uint32_t TYPE_COUNTER_RAWCOUNT_HEX = 0x00000000;
constexpr uint32_t TYPE_COUNTER_LARGE_RAWCOUNT_HEX = 0x00000100;
constexpr uint32_t TYPE_COUNTER_RAWCOUNT = 0x00010000;
constexpr uint32_t TYPE_COUNTER_LARGE_RAWCOUNT = 0x00010100;
constexpr uint32_t TYPE_COUNTER_QUEUELEN_TYPE = 0x00450400;
constexpr uint32_t TYPE_COUNTER_LARGE_QUEUELEN_TYPE = 0x00450500;
constexpr uint32_t TYPE_COUNTER_100NS_QUEUELEN_TYPE = 0x00550500;
constexpr uint32_t TYPE_COUNTER_COUNTER = 0x10410400;
constexpr uint32_t TYPE_COUNTER_BULK_COUNT = 0x10410500;
constexpr uint32_t TYPE_RAW_FRACTION = 0x20020400;
constexpr uint32_t TYPE_LARGE_RAW_FRACTION = 0x20020500;
constexpr uint32_t TYPE_COUNTER_TIMER = 0x20410500;
constexpr uint32_t TYPE_100NSEC_TIMER = 0x20510500;
constexpr uint32_t TYPE_PRECISION_100NS_TIMER = 0x20570500;
constexpr uint32_t TYPE_SAMPLE_FRACTION = 0x20C20400;
constexpr uint32_t TYPE_COUNTER_TIMER_INV = 0x21410500;
constexpr uint32_t TYPE_100NSEC_TIMER_INV = 0x21510500;
constexpr uint32_t TYPE_AVERAGE_TIMER = 0x30020400;
constexpr uint32_t TYPE_ELAPSED_TIME = 0x30240500;
constexpr uint32_t TYPE_AVERAGE_BULK = 0x40020500;

// The value of a counter of `type` with time base `time_base` from `newer`
// and `older` (null allowed where only the newer record is read). Returns 0,
// CSTATUS_INVALID_DATA or NOT_IMPLEMENTED as described above; `value` is set
// in every case (0.0 and the status where there is no value).
Status counter_value(uint32_t type, int64_t time_base, uint32_t format, const RawCounter* newer,
                     const RawCounter* older, CounterValue* value);

// The interface's kind of a type: rate, percent, average, fraction, gauge
// (raw counts), elapsed, or unknown for a type not listed above.
CounterKind kind_of_type(uint32_t type);

// What one record of a type has counted since its counter began, in base
// units: the running total a Prometheus server takes rate() of. The rates
// count N; the timers and queue lengths N / F seconds (100 ns types: N /
// 10^7), an inverse timer its busy time (D - N) / F; the averages and the
// sample fraction are a pair, the sum N (AVERAGE_TIMER: N / F seconds) and
// the count D. A 32-bit N keeps its low 32 bits. The growth of an inverse
// timer over wall time is the busy share when D is the records' clock.
struct RunningTotal {
  bool pair = false;  // a sum and a count (rate(sum) / rate(count) is the average)
  double sum = 0.0, count = 0.0;
  bool seconds = false;  // `sum` is a time in seconds (else the counter's own unit)
  bool inverse = false;  // the busy time of an inverse timer
  bool queue = false;    // `sum` is a queue length integrated over seconds
};

// Whether records of `type` have a running total (raw counts, fractions and
// elapsed time have none: one record gives their value).
bool has_running_total(uint32_t type);

// The running total of `raw`; false, `total` untouched, for a type without
// one, a record that is not usable or a time base F <= 0 that divides.
//   TYPE_100NSEC_TIMER_INV {N 40,000,000 idle, D 100,000,000} -> sum 6 s, inverse
bool running_total(uint32_t type, int64_t time_base, const RawCounter& raw, RunningTotal* total);

}  // namespace perfdata
