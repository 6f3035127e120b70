// The Linux performance-data layer: Windows-style counter paths served from
// /proc and /sys with the contract of the Windows service.
//
//   Query q(default_env());
//   Counter* c = nullptr;
//   q.add("\\\\.\\Processor(_Total)\\% Processor Time", &c);   // 0
//   q.collect(); sleep(1); q.collect();
//   c->format(FMT_DOUBLE)                                       // {0, 12.5}
//
// Counters of one object share one pass over its sources per collection.
//
// add() checks, in this order: syntax (or '*' anywhere, or over 2047 bytes)
// -> BAD_COUNTERNAME; a machine that is not this one -> NO_MACHINE; unknown
// object or its primary source unreadable -> NO_OBJECT; unknown counter ->
// NO_COUNTER; instance not found, '#k' beyond the duplicates, instance missing
// for a multi-instance object or given for a single-instance one ->
// NO_INSTANCE. A primary source that is there but cannot be read (EMFILE,
// EACCES, EIO) is NO_OBJECT too, with add_problem() saying why. format() gives c_status 0 and
// the value, or INVALID_DATA (fewer samples than the kind needs, the instance gone, a source
// unreadable, a counter reset, dt <= 0). Percent counters are clamped to [0, 100] unless
// FMT_NOCAP100 is passed.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/machine.h"
#include "perfdata/paths.h"

namespace perfdata::linux_backend {

struct FormattedValue {
  Status c_status = CSTATUS_INVALID_DATA;
  double value = 0.0;
  // With INVALID_DATA, what is known beyond it: a source's read problem
  // ("cannot read /proc/42/io: Permission denied") or "counter was reset".
  std::string detail;
};

class Query;
struct ObjectState;

// A counter of a query: one pinned instance, or (array) every instance whose
// display name matches a pattern.
class Counter {
 public:
  // The pinned instance's value; INVALID_DATA for an array counter.
  FormattedValue format(uint32_t flags) const;
  // The items of the latest collection (see get_formatted_counter_array);
  // a plain counter gives its one instance.
  void format_array(uint32_t flags, std::vector<ArrayItem>& items) const;
  // The pinned instance's raw record at the latest collection (see
  // get_raw_counter_value): 0 with the record, whose c_status is
  // INVALID_DATA before a collection or where the instance has ended;
  // NOT_IMPLEMENTED for a row without a raw form.
  Status raw(RawCounter& out) const;
  // Every matching instance of the latest collection with its raw record,
  // named and ordered as format_array names and orders them; a plain
  // counter gives its one instance. 0, CSTATUS_INVALID_DATA before a
  // collection, or NOT_IMPLEMENTED for a row without a raw form.
  Status raw_array(std::vector<RawArrayItem>& items) const;
  // Why the latest collection has no value (plain) or no items (array)
  // beyond its status: FormattedValue::detail, or for an array the primary
  // source's read problem; "" when nothing more is known.
  std::string failure_detail() const;
  const ObjectDef& object() const { return *obj_; }
  const CounterDef& row() const { return *row_; }
  const Instance& instance() const { return inst_; }
  const Env& env() const;

 private:
  friend class Query;
  FormattedValue value_of(const Sample* prev, const Sample& cur, uint32_t flags) const;
  // Whether array instance `i` of the latest pass matches the pattern, with
  // its display name.
  bool matches(const std::vector<std::string>& names, size_t i) const;
  const Query* query_ = nullptr;
  ObjectState* state_ = nullptr;
  const ObjectDef* obj_ = nullptr;
  const CounterDef* row_ = nullptr;
  Instance inst_;
  bool array_ = false;
  std::string pattern_;  // array: the instance pattern, "#k" included
  int added_at_ = 0;     // collections of the object before the add
  // Plain: where the instance is in the last two passes, and where to look
  // for it first in the next one.
  std::optional<size_t> prev_pos_, cur_pos_;
  size_t hint_ = 0;
};

// The collections of one object in a query: one pass each, shared by all of
// its counters.
struct ObjectState {
  const ObjectDef* obj = nullptr;
  Request req;
  bool has_counters = false;
  // The instances adds resolve against, listed once between collections.
  bool listed = false;
  Pass listing;
  std::unique_ptr<InstanceIndex> index;
  // The last two passes and when they started.
  Pass prev, cur;
  bool prev_every = false, cur_every = false;
  double prev_t = 0.0, cur_t = 0.0;
  int64_t prev_stamp = 0, cur_stamp = 0;  // the same in 100 ns, the raw records' time stamps
  int collections = 0;
};

class Query {
 public:
  explicit Query(Env env);
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // On status 0, *out points to the new counter, owned by the query. The
  // instances an add matches against are listed once per object and kept
  // until the next collect() (or taken from the last collection when that
  // one listed every instance), so adding every instance of an object
  // costs one listing.
  Status add(std::string_view path, Counter** out);
  // An array counter: the instance part may hold '*' (and only there); an
  // instance pattern that matches nothing is not an error. Checks as add().
  Status add_array(std::string_view path, Counter** out);
  // One pass per object with counters, every source shared by several
  // objects read once; always 0 (failures show in the value status).
  Status collect();
  const Env& env() const { return env_; }
  // Why the latest add failed, beyond its status: after NO_OBJECT, the read
  // problem of an object's primary source that is there; else "".
  const std::string& add_problem() const { return add_problem_; }

 private:
  Status add_common(std::string_view path, bool array, Counter** out);
  ObjectState& state_of(const ObjectDef& obj);
  // The object's instances as listed since the last collection, with their
  // index; null when its primary source cannot be read.
  const ObjectState* listed(ObjectState& st);

  Env env_;
  std::string add_problem_;
  std::vector<std::unique_ptr<Counter>> counters_;
  std::vector<std::unique_ptr<ObjectState>> states_;
};

}  // namespace perfdata::linux_backend
