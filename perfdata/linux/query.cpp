#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/query.h"

#include <cmath>

namespace perfdata::linux_backend {

Query::Query(Env env) : env_(std::move(env)) {}

Status Query::add(std::string_view path, Counter** out) {
  if (path.size() > kMaxCounterPath) return CSTATUS_BAD_COUNTERNAME;
  ParsedPath pp;
  if (Status st = parse_path(strip_own_machine(env_, path), pp); st != 0) return st;
  if (pp.has_machine && !is_local_machine(env_, pp.machine)) return CSTATUS_NO_MACHINE;
  const ObjectDef* obj = find_object(pp.object);
  if (obj == nullptr) return CSTATUS_NO_OBJECT;
  const std::vector<Instance>* listed = instances_of(*obj);
  if (listed == nullptr) return CSTATUS_NO_OBJECT;
  const std::vector<Instance>& list = *listed;
  const CounterDef* row = find_counter(*obj, pp.counter);
  if (row == nullptr) return CSTATUS_NO_COUNTER;
  Instance inst;
  if (obj->multi_instance) {
    if (!pp.has_instance) return CSTATUS_NO_INSTANCE;
    std::optional<size_t> pos = find_instance(*obj, list, pp.instance, pp.index);
    if (!pos) return CSTATUS_NO_INSTANCE;
    inst = list[*pos];
  } else if (pp.has_instance) {
    return CSTATUS_NO_INSTANCE;
  }
  auto counter = std::make_unique<Counter>();
  counter->query_ = this;
  counter->obj_ = obj;
  counter->row_ = row;
  counter->inst_ = std::move(inst);
  if (out != nullptr) *out = counter.get();
  counters_.push_back(std::move(counter));
  return 0;
}

// A check over every instance of an object adds one counter per instance;
// listing the instances again for each add would read every /proc/<pid>
// once per process. The list holds until the next collection.
const std::vector<Instance>* Query::instances_of(const ObjectDef& obj) {
  for (const Listed& listed : listed_) {
    if (listed.object == &obj) return listed.ok ? &listed.instances : nullptr;
  }
  Listed& listed = listed_.emplace_back();
  listed.object = &obj;
  listed.ok = obj.enumerate(env_, listed.instances);
  return listed.ok ? &listed.instances : nullptr;
}

Status Query::collect() {
  listed_.clear();
  double t = env_.monotonic ? env_.monotonic() : 0.0;
  for (auto& c : counters_) {
    c->prev_ = std::move(c->cur_);
    c->prev_t_ = c->cur_t_;
    c->cur_ = Sample{};
    c->cur_t_ = t;
    const Sample* prev = c->samples_ > 0 ? &c->prev_ : nullptr;
    c->obj_->collect(env_, c->inst_, c->row_->needs, prev, c->cur_);
    ++c->samples_;
  }
  return 0;
}

FormattedValue Counter::format(uint32_t flags) const {
  FormattedValue fv;
  if (samples_ == 0 || !cur_.ok) return fv;
  const bool have_prev = samples_ >= 2 && prev_.ok;
  const double dt = cur_t_ - prev_t_;
  if (needs_two_samples(row_->kind) && (!have_prev || !(dt > 0.0))) return fv;
  Value v = row_->value(have_prev ? &prev_ : nullptr, cur_, have_prev ? dt : 0.0, query_->env());
  if (!v || !std::isfinite(*v)) return fv;
  double x = *v;
  if (is_percent(*row_) && (flags & FMT_NOCAP100) == 0) x = cap_percent(x);
  fv.c_status = CSTATUS_VALID_DATA;
  fv.value = x;
  return fv;
}

}  // namespace perfdata::linux_backend
