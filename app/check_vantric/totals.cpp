#include "app/check_vantric/totals.h"

#include "perfdata/counter_types.h"

namespace check_vantric {
namespace {

using Shape = plugin::Totals::Shape;

constexpr double k100ns = 1e7;  // 100 ns ticks per second

// How a type's record turns into totals; `ticks` 0 means the record's time
// base divides.
struct Form {
  uint32_t type;
  Shape shape;
  double ticks;  // divisor of N into seconds (0: the time base); 1 for counts
  bool seconds, inverse, queue;
};

constexpr Form kForms[] = {
    {perfdata::TYPE_COUNTER_COUNTER, Shape::counter, 1, false, false, false},
    {perfdata::TYPE_COUNTER_BULK_COUNT, Shape::counter, 1, false, false, false},
    {perfdata::TYPE_COUNTER_TIMER, Shape::counter, 0, true, false, false},
    {perfdata::TYPE_COUNTER_TIMER_INV, Shape::counter, 0, true, true, false},
    {perfdata::TYPE_100NSEC_TIMER, Shape::counter, k100ns, true, false, false},
    {perfdata::TYPE_PRECISION_100NS_TIMER, Shape::counter, k100ns, true, false, false},
    {perfdata::TYPE_100NSEC_TIMER_INV, Shape::counter, k100ns, true, true, false},
    {perfdata::TYPE_COUNTER_QUEUELEN_TYPE, Shape::counter, 0, true, false, true},
    {perfdata::TYPE_COUNTER_LARGE_QUEUELEN_TYPE, Shape::counter, 0, true, false, true},
    {perfdata::TYPE_COUNTER_100NS_QUEUELEN_TYPE, Shape::counter, k100ns, true, false, true},
    {perfdata::TYPE_AVERAGE_TIMER, Shape::pair, 0, true, false, false},
    {perfdata::TYPE_AVERAGE_BULK, Shape::pair, 1, false, false, false},
    {perfdata::TYPE_SAMPLE_FRACTION, Shape::pair, 1, false, false, false},
};

const Form* form_of(uint32_t type) {
  for (const Form& f : kForms)
    if (f.type == type) return &f;
  return nullptr;
}

}  // namespace

bool has_totals(uint32_t type) { return form_of(type) != nullptr; }

bool one_collection(uint32_t type) {
  if (type == 0) return false;  // no raw series
  const perfdata::CounterKind kind = perfdata::kind_of_type(type);
  return has_totals(type) ||
         (kind != perfdata::CounterKind::unknown && !perfdata::needs_two_samples(kind));
}

bool to_totals(const perfdata::CounterInfo& form, const perfdata::RawCounter& raw,
               plugin::Totals* totals) {
  const Form* f = form_of(form.type);
  if (f == nullptr || !perfdata::is_usable(raw.c_status)) return false;
  const double ticks = f->ticks != 0 ? f->ticks : static_cast<double>(form.time_base);
  if (ticks <= 0) return false;
  // The 32-bit types keep only their low half: what lies above is not theirs.
  const bool narrow = form.type == perfdata::TYPE_COUNTER_COUNTER;
  const int64_t n =
      narrow ? static_cast<int64_t>(static_cast<uint32_t>(raw.first_value)) : raw.first_value;
  const double counted =
      f->inverse ? static_cast<double>(raw.second_value - n) : static_cast<double>(n);
  *totals = {};
  totals->shape = f->shape;
  totals->sum = counted / ticks;
  if (f->shape == Shape::pair) totals->count = static_cast<double>(raw.second_value);
  totals->seconds = f->seconds;
  totals->inverse = f->inverse;
  totals->queue = f->queue;
  return true;
}

}  // namespace check_vantric
