// What one raw record of a counter has counted, in base units: the running
// totals a Prometheus server takes rate() of, instead of a value over an
// interval that only two collections and a pause give.
//
// By counter type (perfdata/counter_types.h; N the first value, D the
// second, F the time base in ticks per second):
//   COUNTER_COUNTER (N 32 bits), COUNTER_BULK_COUNT   counter, sum N
//   COUNTER_TIMER                                      counter, N / F seconds
//   COUNTER_TIMER_INV                                  counter, (D - N) / F seconds, inverse
//   100NSEC_TIMER, PRECISION_100NS_TIMER               counter, N / 10^7 seconds
//   100NSEC_TIMER_INV                                  counter, (D - N) / 10^7 seconds, inverse
//   COUNTER_QUEUELEN_TYPE, COUNTER_LARGE_QUEUELEN_TYPE counter, N / F queue-seconds
//   COUNTER_100NS_QUEUELEN_TYPE                        counter, N / 10^7 queue-seconds
//   AVERAGE_TIMER                                      pair, sum N / F seconds, count D
//   AVERAGE_BULK, SAMPLE_FRACTION                      pair, sum N, count D
// Every other type (raw counts, raw fractions, elapsed time: one record
// gives their value) and a counter without a raw series (type 0) has no
// totals. The growth of an inverse timer over wall time is the busy share
// when D is the clock of the records (the elapsed time); a 32-bit
// COUNTER_COUNTER wraps, which a rate() takes for a reset.
//
// Failures: `has_totals` false for the other types; `to_totals` false, the
// totals untouched, for a record that is not usable (c_status other than 0
// or 1), or a time base F <= 0 for a type that divides by it.
//
//   % Processor Time, TYPE_100NSEC_TIMER_INV, {N 40,000,000 idle, D 100,000,000}
//   -> counter, sum 6 (seconds busy), inverse
#pragma once

#include <cstdint>

#include "perfdata/perfdata.h"
#include "plugin/check_result.h"

namespace check_vantric {

bool has_totals(uint32_t type);

// Whether one raw record of `type` gives what OpenMetrics shows: totals, or
// the value of a raw count, a raw fraction or an elapsed time.
bool one_collection(uint32_t type);

bool to_totals(const perfdata::CounterInfo& form, const perfdata::RawCounter& raw,
               plugin::Totals* totals);

}  // namespace check_vantric
