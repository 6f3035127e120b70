#include "app/check_vantric/totals.h"

#include "perfdata/counter_types.h"

namespace check_vantric {

bool one_collection(uint32_t type) {
  if (type == 0) return false;  // no raw series
  const perfdata::CounterKind kind = perfdata::kind_of_type(type);
  return perfdata::has_running_total(type) ||
         (kind != perfdata::CounterKind::unknown && !perfdata::needs_two_samples(kind));
}

bool to_totals(uint32_t type, int64_t time_base, const perfdata::RawCounter& raw,
               plugin::Totals* totals) {
  perfdata::RunningTotal t;
  if (!perfdata::running_total(type, time_base, raw, &t)) return false;
  using Shape = plugin::Totals::Shape;
  *totals = {t.pair ? Shape::pair : Shape::counter, t.sum, t.count, t.seconds, t.inverse, t.queue};
  return true;
}

}  // namespace check_vantric
