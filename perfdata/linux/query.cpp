#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/query.h"

#include <cmath>
#include <unordered_map>

#include "perfdata/counter_types.h"
#include "perfdata/linux/system_calls.h"

namespace perfdata::linux_backend {

namespace {

// Where `inst` is in `pass`: at `hint` when it still stands there (passes
// list instances in source order, which rarely changes), else by its key
// through `at`, which is built on the first miss. A hash lookup per
// instance and counter is what made many paths cost more than their number.
std::optional<size_t> locate(const Pass& pass, const Instance& inst, size_t hint,
                             std::unordered_map<std::string_view, size_t>& at) {
  if (hint < pass.instances.size() && pass.instances[hint].same(inst)) return hint;
  if (at.empty()) {
    at.reserve(pass.instances.size());
    for (size_t i = 0; i < pass.instances.size(); ++i) at.emplace(pass.instances[i].key, i);
  }
  auto it = at.find(inst.key);
  // The same key with another id or start time is another process on a reused PID.
  if (it == at.end() || !pass.instances[it->second].same(inst)) return std::nullopt;
  return it->second;
}

// A row with a raw form: its counter type's formula over the records of the
// two samples. A first or second value that went down, and that the type
// did not take for a 32-bit wrap, is a counter that was reset.
FormattedValue raw_value(const CounterDef& row, const Sample* prev, const Sample& cur,
                         const ObjectState& st, uint32_t flags, const Env& env) {
  FormattedValue fv;
  if (prev != nullptr && cur.reset) {
    fv.detail = "counter was reset";
    return fv;
  }
  const RawCounter newer = raw_record(row, cur, st.cur_stamp, env);
  const RawCounter older =
      prev != nullptr ? raw_record(row, *prev, st.prev_stamp, env) : RawCounter{};
  CounterValue cv;
  counter_value(raw_type(row, env), raw_time_base(row, env), flags, &newer,
                prev != nullptr ? &older : nullptr, &cv);
  if (is_usable(cv.c_status)) {
    fv.c_status = CSTATUS_VALID_DATA;
    fv.value = cv.value;
    return fv;
  }
  const bool went_down =
      prev != nullptr && is_usable(older.c_status) && is_usable(newer.c_status) &&
      (newer.first_value < older.first_value || newer.second_value < older.second_value);
  fv.detail = went_down ? std::string("counter was reset") : cur.problem;
  return fv;
}

bool is_total(const Instance& inst) { return inst.id == -1 && inst.name == "_Total"; }

// An add whose listing or probe found no primary source: NO_OBJECT, with
// the reason when the source is there but could not be read.
Status missing_source(const Pass& pass, std::string& problem) {
  problem = pass.problem;
  return CSTATUS_NO_OBJECT;
}

}  // namespace

Query::Query(Env env) : env_(std::move(env)) {}

Status Query::add(std::string_view path, Counter** out) { return add_common(path, false, out); }

Status Query::add_array(std::string_view path, Counter** out) {
  return add_common(path, true, out);
}

Status Query::add_common(std::string_view path, bool array, Counter** out) {
  add_problem_.clear();
  if (path.size() > kMaxCounterPath) return CSTATUS_BAD_COUNTERNAME;
  ParsedPath pp;
  if (Status st = parse_path(strip_own_machine(path), pp, array); st != 0) return st;
  if (array &&
      (pp.object.find('*') != std::string::npos || pp.machine.find('*') != std::string::npos ||
       pp.counter.find('*') != std::string::npos)) {
    return CSTATUS_BAD_COUNTERNAME;
  }
  if (pp.has_machine && !is_local_machine(pp.machine)) return CSTATUS_NO_MACHINE;
  const ObjectDef* obj = find_object(pp.object);
  if (obj == nullptr) return CSTATUS_NO_OBJECT;
  ObjectState& st = state_of(*obj);
  auto counter = std::make_unique<Counter>();
  if (array) {
    // An array needs no listing now: its instances are listed at each
    // collection. The primary source is checked with a pass that wants none.
    if (!st.listed) {
      Pass probe;
      obj->pass(env_, Request{}, probe);
      if (!probe.ok) return missing_source(probe, add_problem_);
    }
  } else if (listed(st) == nullptr) {
    return missing_source(st.listing, add_problem_);
  }
  const CounterDef* row = find_counter(*obj, pp.counter);
  if (row == nullptr) return CSTATUS_NO_COUNTER;
  if (array) {
    if (!obj->multi_instance || !pp.has_instance) return CSTATUS_NO_INSTANCE;
    counter->array_ = true;
    counter->pattern_ = pp.instance;
    if (pp.index != 0) counter->pattern_ += "#" + std::to_string(pp.index);
    st.req.every = true;
    st.req.needs |= row->needs;
  } else if (obj->multi_instance) {
    if (!pp.has_instance) return CSTATUS_NO_INSTANCE;
    std::optional<size_t> pos = st.index->find(pp.instance, pp.index);
    if (!pos) return CSTATUS_NO_INSTANCE;
    counter->inst_ = st.listing.instances[*pos];
    counter->hint_ = *pos;
  } else if (pp.has_instance) {
    return CSTATUS_NO_INSTANCE;
  } else {
    counter->inst_ = Instance{"", "", 0, 0};
  }
  if (!array) {
    // A _Total is computed from every instance, so the pass lists them all.
    if (is_total(counter->inst_)) {
      st.req.every = true;
      st.req.needs |= row->needs;
    }
    st.req.pins[counter->inst_.key] |= row->needs;
    st.req.pin_needs |= row->needs;
  }
  st.has_counters = true;
  counter->query_ = this;
  counter->state_ = &st;
  counter->obj_ = obj;
  counter->row_ = row;
  counter->added_at_ = st.collections;
  if (out != nullptr) *out = counter.get();
  counters_.push_back(std::move(counter));
  return 0;
}

ObjectState& Query::state_of(const ObjectDef& obj) {
  for (auto& st : states_) {
    if (st->obj == &obj) return *st;
  }
  auto st = std::make_unique<ObjectState>();
  st->obj = &obj;
  return *states_.emplace_back(std::move(st));
}

// A check over every instance of an object adds one counter per instance;
// listing the instances again for each add would read every /proc/<pid>
// once per process. The list holds until the next collection, and a
// collection that listed every instance is that list.
const ObjectState* Query::listed(ObjectState& st) {
  if (!st.listed) {
    st.listed = true;
    if (st.collections > 0 && st.cur_every && st.cur.ok) {
      st.listing.ok = true;
      st.listing.instances = st.cur.instances;
    } else {
      st.listing = Pass{};
      Request all;
      all.every = true;
      st.obj->pass(env_, all, st.listing);
    }
    st.index = std::make_unique<InstanceIndex>(*st.obj, st.listing.instances);
  }
  return st.listing.ok ? &st : nullptr;
}

Status Query::collect() {
  double t = system_calls.monotonic();
  env_.cache = std::make_shared<SourceCache>();
  int readers = 0;  // objects of the query that read the files of every process
  for (const auto& st : states_)
    readers += st->has_counters && (st->obj == &process_object() || st->obj == &system_object());
  env_.cache->processes = readers > 1;
  for (auto& st : states_) {
    st->listed = false;
    st->listing = Pass{};
    st->index.reset();
    if (!st->has_counters) continue;
    st->prev = std::move(st->cur);
    st->prev_every = st->cur_every;
    st->prev_t = st->cur_t;
    st->prev_stamp = st->cur_stamp;
    st->cur = Pass{};
    st->obj->pass(env_, st->req, st->cur);
    st->cur_every = st->req.every;
    st->cur_t = t;
    st->cur_stamp = std::llround(t * 1e7);
    if (st->obj->carry != nullptr && st->prev.ok && st->cur.ok) st->obj->carry(st->prev, st->cur);
    ++st->collections;
  }
  env_.cache.reset();
  // Each plain counter finds its instance in the new pass.
  std::unordered_map<const ObjectState*, std::unordered_map<std::string_view, size_t>> at;
  for (auto& c : counters_) {
    if (c->array_) continue;
    c->prev_pos_ = c->cur_pos_;
    c->cur_pos_ = locate(c->state_->cur, c->inst_, c->hint_, at[c->state_]);
    if (c->cur_pos_) c->hint_ = *c->cur_pos_;
  }
  return 0;
}

FormattedValue Counter::value_of(const Sample* prev, const Sample& cur, uint32_t flags) const {
  FormattedValue fv;
  const ObjectState& st = *state_;
  if (!cur.ok || (cur.missing & row_->needs) != 0) {
    fv.detail = cur.problem;
    return fv;
  }
  const bool have_prev =
      prev != nullptr && prev->ok && (prev->missing & row_->needs) == 0 && st.collections >= 2;
  const double dt = st.cur_t - st.prev_t;
  if (needs_two_samples(row_->kind) && (!have_prev || !(dt > 0.0))) {
    if (prev != nullptr) fv.detail = prev->problem;
    return fv;
  }
  if (row_->raw.type != 0)
    return raw_value(*row_, have_prev ? prev : nullptr, cur, st, flags, query_->env());
  take_reset();
  Value v = row_->value(have_prev ? prev : nullptr, cur, have_prev ? dt : 0.0, query_->env());
  if (!v || !std::isfinite(*v)) {
    fv.detail = take_reset() ? std::string("counter was reset") : cur.problem;
    return fv;
  }
  double x = *v;
  if (is_percent(*row_) && (flags & FMT_NOCAP100) == 0) x = cap_percent(x);
  fv.c_status = CSTATUS_VALID_DATA;
  fv.value = x;
  return fv;
}

FormattedValue Counter::format(uint32_t flags) const {
  const ObjectState& st = *state_;
  const int mine = st.collections - added_at_;
  if (array_ || mine < 1 || !st.cur.ok || !cur_pos_) {
    FormattedValue fv;
    if (!array_ && mine >= 1) fv.detail = st.cur.problem;
    return fv;
  }
  const Sample* prev =
      mine >= 2 && st.prev.ok && prev_pos_ ? &st.prev.samples[*prev_pos_] : nullptr;
  return value_of(prev, st.cur.samples[*cur_pos_], flags);
}

std::string Counter::failure_detail() const {
  if (!array_) return format(FMT_DOUBLE).detail;
  const ObjectState& st = *state_;
  return st.collections > added_at_ && !st.cur.ok ? st.cur.problem : std::string();
}

void Counter::format_array(uint32_t flags, std::vector<ArrayItem>& items) const {
  items.clear();
  const ObjectState& st = *state_;
  const int mine = st.collections - added_at_;
  if (!array_) {
    if (mine < 1) return;
    FormattedValue fv = format(flags);
    items.push_back(ArrayItem{inst_.name, fv.c_status, fv.value, std::move(fv.detail)});
    return;
  }
  if (mine < 1 || !st.cur.ok) return;
  const bool two = needs_two_samples(row_->kind);
  if (two && (mine < 2 || !st.prev.ok)) return;
  const bool have_before = mine >= 2 && st.prev.ok;
  std::unordered_map<std::string_view, size_t> before;
  const std::vector<Instance>& list = st.cur.instances;
  const std::vector<std::string> names = numbered_names(list);
  std::optional<ArrayItem> total;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string& shown = names[i];
    if (!matches(names, i)) continue;
    std::optional<size_t> p = have_before ? locate(st.prev, list[i], i, before) : std::nullopt;
    // A rate needs the instance in both samples: one that started since
    // the previous collection is not an item yet.
    if (two && !p) continue;
    FormattedValue fv = value_of(p ? &st.prev.samples[*p] : nullptr, st.cur.samples[i], flags);
    ArrayItem item{shown, fv.c_status, fv.value, std::move(fv.detail)};
    if (is_total(list[i])) {
      total = std::move(item);
    } else {
      items.push_back(std::move(item));
    }
  }
  if (total) items.push_back(std::move(*total));
}

const Env& Counter::env() const { return query_->env(); }

bool Counter::matches(const std::vector<std::string>& names, size_t i) const {
  const Instance& inst = state_->cur.instances[i];
  std::string_view suffix = std::string_view(names[i]).substr(inst.name.size());
  return instance_matches(*obj_, pattern_, inst.name, suffix);
}

Status Counter::raw(RawCounter& out) const {
  if (row_->raw.type == 0) return NOT_IMPLEMENTED;
  const ObjectState& st = *state_;
  out = RawCounter{CSTATUS_INVALID_DATA, st.cur_stamp, 0, 0, 1};
  if (array_ || st.collections - added_at_ < 1 || !st.cur.ok || !cur_pos_) return 0;
  out = raw_record(*row_, st.cur.samples[*cur_pos_], st.cur_stamp, query_->env());
  return 0;
}

Status Counter::raw_array(std::vector<RawArrayItem>& items) const {
  items.clear();
  if (row_->raw.type == 0) return NOT_IMPLEMENTED;
  const ObjectState& st = *state_;
  if (st.collections - added_at_ < 1) return CSTATUS_INVALID_DATA;
  if (!array_) {
    RawArrayItem item{inst_.name, {}};
    raw(item.raw);
    items.push_back(std::move(item));
    return 0;
  }
  if (!st.cur.ok) return 0;
  const std::vector<Instance>& list = st.cur.instances;
  const std::vector<std::string> names = numbered_names(list);
  std::optional<RawArrayItem> total;
  items.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    if (!matches(names, i)) continue;
    RawArrayItem item{names[i], raw_record(*row_, st.cur.samples[i], st.cur_stamp, query_->env())};
    if (is_total(list[i])) {
      total = std::move(item);
    } else {
      items.push_back(std::move(item));
    }
  }
  if (total) items.push_back(std::move(*total));
  return 0;
}

}  // namespace perfdata::linux_backend
