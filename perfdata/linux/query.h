// The Linux performance-data layer: Windows-style counter paths served from
// /proc and /sys with the contract of the Windows service.
//
//   Query q(default_env());
//   Counter* c = nullptr;
//   q.add("\\\\.\\Processor(_Total)\\% Processor Time", &c);   // 0
//   q.collect(); sleep(1); q.collect();
//   c->format(FMT_DOUBLE)                                       // {0, 12.5}
//
// add() checks, in this order: syntax (or '*' anywhere, or over 2047 bytes)
// -> BAD_COUNTERNAME; a machine that is not this one -> NO_MACHINE; unknown
// object or its primary source unreadable -> NO_OBJECT; unknown counter ->
// NO_COUNTER; instance not found, '#k' beyond the duplicates, instance missing
// for a multi-instance object or given for a single-instance one ->
// NO_INSTANCE. format() gives c_status 0 and the value, or INVALID_DATA
// (fewer samples than the kind needs, the instance gone, a source unreadable,
// a counter reset, dt <= 0). Percent counters are clamped to [0, 100] unless
// FMT_NOCAP100 is passed.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstdint>
#include <memory>
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
};

class Query;

class Counter {
 public:
  FormattedValue format(uint32_t flags) const;
  const ObjectDef& object() const { return *obj_; }
  const CounterDef& row() const { return *row_; }
  const Instance& instance() const { return inst_; }

 private:
  friend class Query;
  const Query* query_ = nullptr;
  const ObjectDef* obj_ = nullptr;
  const CounterDef* row_ = nullptr;
  Instance inst_;
  int samples_ = 0;
  Sample prev_, cur_;
  double prev_t_ = 0.0, cur_t_ = 0.0;
};

class Query {
 public:
  explicit Query(Env env);
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // On status 0, *out points to the new counter, owned by the query. The
  // instances an add matches against are listed once per object and kept
  // until the next collect(), so adding every instance of an object costs
  // one listing.
  Status add(std::string_view path, Counter** out);
  // Takes one sample of every counter; always 0 (failures show in the value status).
  Status collect();
  const Env& env() const { return env_; }

 private:
  struct Listed {
    const ObjectDef* object = nullptr;
    bool ok = false;
    std::vector<Instance> instances;
  };
  // The object's instances as listed since the last collection; null when
  // its primary source cannot be read.
  const std::vector<Instance>* instances_of(const ObjectDef& obj);

  Env env_;
  std::vector<std::unique_ptr<Counter>> counters_;
  std::vector<Listed> listed_;
};

}  // namespace perfdata::linux_backend
