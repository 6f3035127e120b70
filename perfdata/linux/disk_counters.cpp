#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/disk_counters.h"

#include "perfdata/counter_types.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <optional>

namespace perfdata::linux_backend {

namespace {

constexpr uint64_t kSectorBytes = 512;  // diskstats sectors, whatever the logical block size

// The sum over the set's disks of diskstats fields `fields`, times `scale`.
// A _Total is a sum like any other: its raw record is the sum of its
// members' as they stand at the collection.
bool sum(const Sample& s, std::initializer_list<int> fields, uint64_t scale, int64_t& out) {
  const DiskSet* set = disk_set(s);
  if (set == nullptr) return false;
  uint64_t total = 0;
  for (const DiskRow& row : set->rows)
    for (int k : fields) total += row.f[k];
  for (int k : fields) total += set->kept[k];
  out = static_cast<int64_t>(total * scale);
  return true;
}

// Counts against the time stamp.
template <int A, int B = 0, uint64_t Scale = 1>
bool per_stamp(const Sample& s, int64_t stamp, const Env&, RawCounter& out) {
  out.second_value = stamp;
  return B == 0 ? sum(s, {A}, Scale, out.first_value) : sum(s, {A, B}, Scale, out.first_value);
}
// Milliseconds against the collection clock in ms.
template <int A>
bool per_ms(const Sample& s, int64_t stamp, const Env&, RawCounter& out) {
  out.second_value = stamp_ms(stamp);
  return sum(s, {A}, 1, out.first_value);
}
// Milliseconds of I/O over the operations they served.
template <int Ms, int Ops, int Ms2 = 0, int Ops2 = 0>
bool per_operation(const Sample& s, int64_t, const Env&, RawCounter& out) {
  if (Ms2 == 0) return sum(s, {Ms}, 1, out.first_value) && sum(s, {Ops}, 1, out.second_value);
  return sum(s, {Ms, Ms2}, 1, out.first_value) && sum(s, {Ops, Ops2}, 1, out.second_value);
}
// Busy milliseconds against as many ms clocks as there are disks: the
// inverse timer then gives the mean idle share of the disks.
bool idle(const Sample& s, int64_t stamp, const Env&, RawCounter& out) {
  const DiskSet* set = disk_set(s);
  if (set == nullptr || set->rows.empty()) return false;
  out.second_value = stamp_ms(stamp) * static_cast<int64_t>(set->rows.size());
  return sum(s, {10}, 1, out.first_value);
}
bool in_flight(const Sample& s, int64_t, const Env&, RawCounter& out) {
  return sum(s, {9}, 1, out.first_value);
}

constexpr RawForm average(RawFill fill, const char* form) {
  return {TYPE_AVERAGE_TIMER, fill, TimeBase::ms, false, form};
}
constexpr RawForm queue(RawFill fill, const char* form) {
  return {TYPE_COUNTER_QUEUELEN_TYPE, fill, TimeBase::ms, false, form};
}

}  // namespace

const DiskSet* disk_set(const Sample& s) {
  return s.ok ? static_cast<const DiskSet*>(s.payload.get()) : nullptr;
}

void store_disk_set(DiskSet set, Sample& out) {
  out.payload = std::make_shared<DiskSet>(std::move(set));
  out.ok = true;
}

namespace {

Sample* total_in(Pass& pass) {
  for (size_t i = 0; i < pass.instances.size(); ++i)
    if (pass.instances[i].id == -1 && pass.instances[i].key.empty()) return &pass.samples[i];
  return nullptr;
}

// A count that went back other than by a plausible 32-bit wrap.
bool went_back(uint64_t was, uint64_t is) {
  return is < was && (was > 0xFFFFFFFFull || is + (uint64_t{1} << 32) - was >= (uint64_t{1} << 31));
}

}  // namespace

void carry_disk_total(const Pass& prev, Pass& cur) {
  Sample* after = total_in(cur);
  const Sample* before = total_in(const_cast<Pass&>(prev));
  if (after == nullptr || before == nullptr) return;
  const DiskSet* a = disk_set(*before);
  // The set was made non-const by store_disk_set; only this pass holds it.
  auto* b = const_cast<DiskSet*>(disk_set(*after));
  if (a == nullptr || b == nullptr) return;
  std::copy(std::begin(a->kept), std::end(a->kept), std::begin(b->kept));
  std::unordered_map<std::string_view, const DiskRow*> now;
  for (const DiskRow& r : b->rows) now.emplace(r.name, &r);
  std::unordered_map<std::string_view, const DiskRow*> then;
  for (const DiskRow& r : a->rows) {
    then.emplace(r.name, &r);
    auto it = now.find(r.name);
    for (int k = 1; k <= 17; ++k) {
      if (k == 9) continue;  // an instant queue length, not a count
      if (it == now.end()) {
        b->kept[k] += r.f[k];
      } else if (went_back(r.f[k], it->second->f[k])) {
        after->reset = true;
      }
    }
  }
  for (const DiskRow& r : b->rows) {
    if (then.count(r.name) != 0) continue;
    for (int k = 1; k <= 17; ++k)
      if (k != 9) b->kept[k] -= r.f[k];
  }
}

std::vector<CounterDef> disk_io_counters(const char* object, uint32_t needs) {
  return {
      {object, "Disk Reads/sec", CounterKind::rate, needs, nullptr, "",
       "Read requests completed per second", "/proc/diskstats reads completed (f1) delta / seconds",
       bulk_count(per_stamp<1>, "first value f1; second value the time stamp", true)},
      {object, "Disk Writes/sec", CounterKind::rate, needs, nullptr, "",
       "Write requests completed per second",
       "/proc/diskstats writes completed (f5) delta / seconds",
       bulk_count(per_stamp<5>, "first value f5; second value the time stamp", true)},
      {object, "Disk Transfers/sec", CounterKind::rate, needs, nullptr, "",
       "Read plus write requests completed per second", "/proc/diskstats (f1+f5) deltas / seconds",
       bulk_count(per_stamp<1, 5>, "first value f1+f5; second value the time stamp", true)},
      {object, "Disk Read Bytes/sec", CounterKind::rate, needs, nullptr, "",
       "Bytes read per second", "/proc/diskstats sectors read (f3) delta*512 / seconds",
       bulk_count(per_stamp<3, 0, kSectorBytes>,
                  "first value f3*512 bytes; second value the time stamp")},
      {object, "Disk Write Bytes/sec", CounterKind::rate, needs, nullptr, "",
       "Bytes written per second", "/proc/diskstats sectors written (f7) delta*512 / seconds",
       bulk_count(per_stamp<7, 0, kSectorBytes>,
                  "first value f7*512 bytes; second value the time stamp")},
      {object, "Disk Bytes/sec", CounterKind::rate, needs, nullptr, "",
       "Bytes read plus written per second", "/proc/diskstats (f3+f7) deltas*512 / seconds",
       bulk_count(per_stamp<3, 7, kSectorBytes>,
                  "first value (f3+f7)*512 bytes; second value the time stamp")},
      {object, "Avg. Disk sec/Read", CounterKind::average, needs, nullptr, "s",
       "Mean time a read took; 0 without reads",
       "/proc/diskstats ms reading (f4) delta/1000 / f1 delta",
       average(per_operation<4, 1>, "first value f4 (ms); second value f1, the reads")},
      {object, "Avg. Disk sec/Write", CounterKind::average, needs, nullptr, "s",
       "Mean time a write took; 0 without writes",
       "/proc/diskstats ms writing (f8) delta/1000 / f5 delta",
       average(per_operation<8, 5>, "first value f8 (ms); second value f5, the writes")},
      {object, "Avg. Disk sec/Transfer", CounterKind::average, needs, nullptr, "s",
       "Mean time a request took; 0 without requests",
       "/proc/diskstats (f4+f8) deltas/1000 / (f1+f5) deltas",
       average(per_operation<4, 1, 8, 5>,
               "first value f4+f8 (ms); second value f1+f5, the requests")},
      {object, "Avg. Disk Queue Length", CounterKind::rate, needs, nullptr, "",
       "Mean number of requests queued or in service",
       "/proc/diskstats weighted ms doing I/O (f11) delta/1000 / seconds",
       queue(per_ms<11>, "first value f11 (ms); second value the time stamp in ms")},
      {object, "Avg. Disk Read Queue Length", CounterKind::rate, needs, nullptr, "",
       "Mean number of read requests queued or in service",
       "/proc/diskstats f4 delta/1000 / seconds",
       queue(per_ms<4>, "first value f4 (ms); second value the time stamp in ms")},
      {object, "Avg. Disk Write Queue Length", CounterKind::rate, needs, nullptr, "",
       "Mean number of write requests queued or in service",
       "/proc/diskstats f8 delta/1000 / seconds",
       queue(per_ms<8>, "first value f8 (ms); second value the time stamp in ms")},
      {object,
       "% Disk Time",
       CounterKind::percent,
       needs,
       nullptr,
       "%",
       "100 times the mean queue length (can pass 100)",
       "/proc/diskstats 100*f11 delta/1000 / seconds",
       {TYPE_COUNTER_TIMER, per_ms<11>, TimeBase::ms, false,
        "first value f11 (ms, read as 64 bits: its wrap reads as a reset); second value the time "
        "stamp in ms"}},
      {object,
       "% Idle Time",
       CounterKind::percent,
       needs,
       nullptr,
       "%",
       "Share of the interval with no request in flight (_Total: mean of the disks)",
       "/proc/diskstats 100*(1 - ms doing I/O (f10) delta/1000 / seconds)",
       {TYPE_COUNTER_TIMER_INV, idle, TimeBase::ms, false,
        "first value f10 (ms, read as 64 bits: its wrap reads as a reset); second value the time "
        "stamp in ms times the disks"}},
      {object,
       "Current Disk Queue Length",
       CounterKind::gauge,
       needs,
       nullptr,
       "",
       "Requests queued or in service now",
       "/proc/diskstats I/Os in progress (f9)",
       {TYPE_COUNTER_RAWCOUNT, in_flight, TimeBase::stamp, false, "first value f9"}},
  };
}

}  // namespace perfdata::linux_backend
