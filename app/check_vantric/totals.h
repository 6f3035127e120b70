// What OpenMetrics shows of one raw record: the running total of its
// counter type (perfdata::running_total) as the result model holds it, and
// whether one collection serves a counter at all.
//
// Failures: `to_totals` false, the totals untouched, where running_total
// gives none (a type without one, a record that is not usable, a time base
// F <= 0 that divides).
//
//   % Processor Time, TYPE_100NSEC_TIMER_INV, {N 40,000,000 idle, D 100,000,000}
//   -> counter, sum 6 (seconds busy), inverse
#pragma once

#include <cstdint>

#include "perfdata/perfdata.h"
#include "plugin/check_result.h"

namespace check_vantric {

// Whether one raw record of `type` gives what OpenMetrics shows: totals, or
// the value of a raw count, a raw fraction or an elapsed time.
bool one_collection(uint32_t type);

bool to_totals(uint32_t type, int64_t time_base, const perfdata::RawCounter& raw,
               plugin::Totals* totals);

}  // namespace check_vantric
