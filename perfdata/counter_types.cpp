// The formulas of the counter types.
#include "perfdata/counter_types.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace perfdata {

namespace {

constexpr double k100ns = 1e7;  // ticks per second of the 100 ns types, whatever F says

// The width of the first value's field; the second value is a clock, 64
// bits wide, except for the bases of the 32-bit fraction and average types.
struct Form {
  enum Formula {
    none,
    raw,
    fraction,
    elapsed,
    rate,
    timer,
    timer_inv,
    queue,
    average_timer,
    average_bulk,
    sample
  };
  Formula formula = none;
  bool n32 = false;         // N is a 32-bit field: it wraps
  bool d32 = false;         // D is a 32-bit base: it wraps
  bool hundred_ns = false;  // D and N count 100 ns, not F ticks
};

Form form_of(uint32_t type) {
  switch (type) {
    case TYPE_COUNTER_RAWCOUNT:
    case TYPE_COUNTER_RAWCOUNT_HEX:
      return {Form::raw, true, false, false};
    case TYPE_COUNTER_LARGE_RAWCOUNT:
    case TYPE_COUNTER_LARGE_RAWCOUNT_HEX:
      return {Form::raw, false, false, false};
    case TYPE_RAW_FRACTION:
      return {Form::fraction, true, true, false};
    case TYPE_LARGE_RAW_FRACTION:
      return {Form::fraction, false, false, false};
    case TYPE_ELAPSED_TIME:
      return {Form::elapsed, false, false, false};
    case TYPE_COUNTER_COUNTER:
      return {Form::rate, true, false, false};
    case TYPE_COUNTER_BULK_COUNT:
      return {Form::rate, false, false, false};
    case TYPE_COUNTER_TIMER:
      return {Form::timer, false, false, false};
    case TYPE_COUNTER_TIMER_INV:
      return {Form::timer_inv, false, false, false};
    case TYPE_100NSEC_TIMER:
    case TYPE_PRECISION_100NS_TIMER:
      return {Form::timer, false, false, true};
    case TYPE_100NSEC_TIMER_INV:
      return {Form::timer_inv, false, false, true};
    case TYPE_COUNTER_QUEUELEN_TYPE:
      return {Form::queue, true, false, false};
    case TYPE_COUNTER_LARGE_QUEUELEN_TYPE:
      return {Form::queue, false, false, false};
    case TYPE_COUNTER_100NS_QUEUELEN_TYPE:
      return {Form::queue, false, false, true};
    case TYPE_AVERAGE_TIMER:
      return {Form::average_timer, true, true, false};
    case TYPE_AVERAGE_BULK:
      return {Form::average_bulk, false, true, false};
    case TYPE_SAMPLE_FRACTION:
      return {Form::sample, true, true, false};
    default:
      return {};
  }
}

// newer - older of a field: a 64-bit field that went down was reset; a
// 32-bit one wrapped when that is plausible (see the header).
std::optional<uint64_t> difference(int64_t older, int64_t newer, bool bits32) {
  const auto o = static_cast<uint64_t>(older), n = static_cast<uint64_t>(newer);
  if (n >= o) return n - o;
  if (!bits32 || o > 0xFFFFFFFFull) return std::nullopt;
  const uint64_t wrapped = n + (uint64_t{1} << 32) - o;
  if (wrapped >= (uint64_t{1} << 31)) return std::nullopt;
  return wrapped;
}

bool usable(const RawCounter& r) {
  return r.c_status == CSTATUS_VALID_DATA || r.c_status == CSTATUS_NEW_DATA;
}

bool is_percentage(Form::Formula f) {
  return f == Form::fraction || f == Form::timer || f == Form::timer_inv || f == Form::sample;
}

// The value, or nullopt where the records give none.
std::optional<double> evaluate(const Form& form, int64_t time_base, const RawCounter& n1,
                               const RawCounter* n0) {
  const double f = form.hundred_ns ? k100ns : static_cast<double>(time_base);
  switch (form.formula) {
    case Form::raw:
      return static_cast<double>(n1.first_value);
    case Form::fraction:
      if (n1.second_value == 0) return std::nullopt;
      return 100.0 * static_cast<double>(n1.first_value) / static_cast<double>(n1.second_value);
    case Form::elapsed:
      if (f <= 0.0 || n1.second_value < n1.first_value) return std::nullopt;
      return static_cast<double>(n1.second_value - n1.first_value) / f;
    default:
      break;
  }
  if (n0 == nullptr || !usable(*n0)) return std::nullopt;
  const std::optional<uint64_t> dn = difference(n0->first_value, n1.first_value, form.n32);
  if (!dn) return std::nullopt;
  const auto num = static_cast<double>(*dn);
  if (form.formula == Form::average_timer || form.formula == Form::average_bulk ||
      form.formula == Form::sample) {
    const std::optional<uint64_t> db = difference(n0->second_value, n1.second_value, form.d32);
    if (!db) return std::nullopt;
    const auto den = static_cast<double>(*db);
    if (form.formula == Form::sample)
      return den == 0.0 ? std::nullopt : std::optional(100.0 * num / den);
    // The operations none completed took no time: the system shows 0.
    if (den == 0.0) return 0.0;
    if (form.formula == Form::average_bulk) return num / den;
    return f <= 0.0 ? std::nullopt : std::optional(num / f / den);
  }
  // The clock's interval: it must have advanced.
  if (n1.second_value <= n0->second_value) return std::nullopt;
  const auto dt = static_cast<double>(n1.second_value - n0->second_value);
  switch (form.formula) {
    case Form::rate:
      return f <= 0.0 ? std::nullopt : std::optional(num / (dt / f));
    case Form::timer:
      return 100.0 * num / dt;
    case Form::timer_inv:
      return 100.0 * (1.0 - num / dt);
    case Form::queue:
      return num / dt;
    default:
      return std::nullopt;
  }
}

}  // namespace

Status counter_value(uint32_t type, int64_t time_base, uint32_t format, const RawCounter* newer,
                     const RawCounter* older, CounterValue* value) {
  if (value == nullptr) return INVALID_ARGUMENT;
  *value = CounterValue{CSTATUS_INVALID_DATA, 0.0};
  const Form form = form_of(type);
  if (form.formula == Form::none) {
    value->c_status = NOT_IMPLEMENTED;
    return NOT_IMPLEMENTED;
  }
  if (newer == nullptr || !usable(*newer)) return CSTATUS_INVALID_DATA;
  std::optional<double> v = evaluate(form, time_base, *newer, older);
  if (!v || !std::isfinite(*v)) return CSTATUS_INVALID_DATA;
  if (is_percentage(form.formula) && (format & FMT_NOCAP100) == 0) v = std::clamp(*v, 0.0, 100.0);
  *value = CounterValue{CSTATUS_VALID_DATA, *v};
  return 0;
}

CounterKind kind_of_type(uint32_t type) {
  switch (form_of(type).formula) {
    case Form::raw:
      return CounterKind::gauge;
    case Form::fraction:
      return CounterKind::fraction;
    case Form::elapsed:
      return CounterKind::elapsed;
    case Form::rate:
    case Form::queue:
      return CounterKind::rate;
    case Form::timer:
    case Form::timer_inv:
    case Form::sample:
      return CounterKind::percent;
    case Form::average_timer:
    case Form::average_bulk:
      return CounterKind::average;
    default:
      return CounterKind::unknown;
  }
}

namespace {

bool totals_kept(Form::Formula formula) {
  switch (formula) {
    case Form::rate:
    case Form::timer:
    case Form::timer_inv:
    case Form::queue:
    case Form::average_timer:
    case Form::average_bulk:
    case Form::sample:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool has_running_total(uint32_t type) { return totals_kept(form_of(type).formula); }

bool running_total(uint32_t type, int64_t time_base, const RawCounter& raw, RunningTotal* total) {
  const Form form = form_of(type);
  if (!totals_kept(form.formula) || !usable(raw)) return false;
  const bool timed = form.formula == Form::timer || form.formula == Form::timer_inv ||
                     form.formula == Form::queue || form.formula == Form::average_timer;
  const double ticks = !timed ? 1.0 : form.hundred_ns ? k100ns : static_cast<double>(time_base);
  if (ticks <= 0) return false;
  const int64_t n =
      form.n32 ? static_cast<int64_t>(static_cast<uint32_t>(raw.first_value)) : raw.first_value;
  RunningTotal t;
  t.pair = form.formula == Form::average_timer || form.formula == Form::average_bulk ||
           form.formula == Form::sample;
  t.inverse = form.formula == Form::timer_inv;
  t.sum = static_cast<double>(t.inverse ? raw.second_value - n : n) / ticks;
  if (t.pair) t.count = static_cast<double>(raw.second_value);
  t.seconds = timed;
  t.queue = form.formula == Form::queue;
  *total = t;
  return true;
}

Status calculate_from_raw(const CounterInfo& form, uint32_t format, const RawCounter* newer,
                          const RawCounter* older, CounterValue* value) {
  return counter_value(form.type, form.time_base, format, newer, older, value);
}

}  // namespace perfdata
