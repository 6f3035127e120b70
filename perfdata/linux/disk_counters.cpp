#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/disk_counters.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <optional>

namespace perfdata::linux_backend {

namespace {

constexpr double kSectorBytes = 512.0;  // diskstats sectors, whatever the logical block size

// Deltas summed over the members present in both samples.
struct DiskDeltas {
  uint64_t d[18] = {};
  double idle_percent_sum = 0.0;
  size_t members = 0;
};

std::optional<DiskDeltas> disk_deltas(const Sample* prev, const Sample& cur, double dt,
                                      const Env& env) {
  const DiskSet* a = prev ? disk_set(*prev) : nullptr;
  const DiskSet* b = disk_set(cur);
  if (a == nullptr || b == nullptr || dt <= 0.0) return std::nullopt;
  DiskDeltas out;
  // Rows usually stand where they stood; a search of the whole set for each
  // would make a _Total over many disks quadratic.
  std::unordered_map<std::string_view, const DiskRow*> before;
  for (size_t i = 0; i < b->rows.size(); ++i) {
    const DiskRow& row = b->rows[i];
    const DiskRow* old = i < a->rows.size() && a->rows[i].name == row.name ? &a->rows[i] : nullptr;
    if (old == nullptr) {
      if (before.empty())
        for (const DiskRow& r : a->rows) before.emplace(r.name, &r);
      auto it = before.find(row.name);
      if (it == before.end()) continue;
      old = it->second;
    }
    uint64_t d[18] = {};
    for (int k = 1; k <= 11; ++k) {
      if (k == 9) continue;  // f9 is an instant queue length, not a count
      // The time fields are unsigned int even on 64-bit kernels; the counts
      // are unsigned long.
      const bool time_field = k == 4 || k == 8 || k == 10 || k == 11;
      std::optional<uint64_t> v =
          time_field ? delta32(old->f[k], row.f[k]) : delta_ulong(env, old->f[k], row.f[k]);
      // A field that went back without wrapping: the device was re-created.
      if (!v) return std::nullopt;
      d[k] = *v;
    }
    for (int k = 1; k <= 11; ++k) out.d[k] += d[k];
    out.idle_percent_sum += 100.0 * std::max(0.0, 1.0 - static_cast<double>(d[10]) / (1000.0 * dt));
    ++out.members;
  }
  return out;
}

template <class Fn>
Value with_deltas(const Sample* prev, const Sample& cur, double dt, const Env& env, Fn fn) {
  std::optional<DiskDeltas> d = disk_deltas(prev, cur, dt, env);
  if (!d) return std::nullopt;
  return fn(*d, dt);
}

double ratio_or_zero(double num, double den) { return den == 0.0 ? 0.0 : num / den; }

Value reads_per_sec(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e, [](const DiskDeltas& d, double t) { return d.d[1] / t; });
}
Value writes_per_sec(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e, [](const DiskDeltas& d, double t) { return d.d[5] / t; });
}
Value transfers_per_sec(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e,
                     [](const DiskDeltas& d, double t) { return (double(d.d[1]) + d.d[5]) / t; });
}
Value read_bytes_per_sec(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e,
                     [](const DiskDeltas& d, double t) { return d.d[3] * kSectorBytes / t; });
}
Value write_bytes_per_sec(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e,
                     [](const DiskDeltas& d, double t) { return d.d[7] * kSectorBytes / t; });
}
Value bytes_per_sec(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e, [](const DiskDeltas& d, double t) {
    return (double(d.d[3]) + d.d[7]) * kSectorBytes / t;
  });
}
Value sec_per_read(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e, [](const DiskDeltas& d, double) {
    return ratio_or_zero(d.d[4] / 1000.0, double(d.d[1]));
  });
}
Value sec_per_write(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e, [](const DiskDeltas& d, double) {
    return ratio_or_zero(d.d[8] / 1000.0, double(d.d[5]));
  });
}
Value sec_per_transfer(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e, [](const DiskDeltas& d, double) {
    return ratio_or_zero((double(d.d[4]) + d.d[8]) / 1000.0, double(d.d[1]) + d.d[5]);
  });
}
Value queue_length(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e,
                     [](const DiskDeltas& d, double t) { return d.d[11] / (1000.0 * t); });
}
Value read_queue_length(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e,
                     [](const DiskDeltas& d, double t) { return d.d[4] / (1000.0 * t); });
}
Value write_queue_length(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e,
                     [](const DiskDeltas& d, double t) { return d.d[8] / (1000.0 * t); });
}
Value disk_time(const Sample* p, const Sample& c, double dt, const Env& e) {
  return with_deltas(p, c, dt, e,
                     [](const DiskDeltas& d, double t) { return 100.0 * d.d[11] / (1000.0 * t); });
}
Value idle_time(const Sample* p, const Sample& c, double dt, const Env& e) {
  std::optional<DiskDeltas> d = disk_deltas(p, c, dt, e);
  // The mean of no disks is no value.
  if (!d || d->members == 0) return std::nullopt;
  return d->idle_percent_sum / static_cast<double>(d->members);
}
Value current_queue_length(const Sample*, const Sample& c, double, const Env&) {
  const DiskSet* set = disk_set(c);
  if (set == nullptr) return std::nullopt;
  double sum = 0.0;
  for (const DiskRow& row : set->rows) sum += static_cast<double>(row.f[9]);
  return sum;
}

}  // namespace

const DiskSet* disk_set(const Sample& s) {
  return s.ok ? static_cast<const DiskSet*>(s.payload.get()) : nullptr;
}

void store_disk_set(DiskSet set, Sample& out) {
  out.payload = std::make_shared<const DiskSet>(std::move(set));
  out.ok = true;
}

std::vector<CounterDef> disk_io_counters(const char* object, uint32_t needs) {
  return {
      {object, "Disk Reads/sec", CounterKind::rate, needs, reads_per_sec, "",
       "Read requests completed per second",
       "/proc/diskstats "
       "reads completed (f1) delta / seconds"},
      {object, "Disk Writes/sec", CounterKind::rate, needs, writes_per_sec, "",
       "Write requests completed per second",
       "/proc/diskstats "
       "writes completed (f5) delta / seconds"},
      {object, "Disk Transfers/sec", CounterKind::rate, needs, transfers_per_sec, "",
       "Read plus write requests completed per second",
       "/proc/diskstats "
       "(f1+f5) deltas / seconds"},
      {object, "Disk Read Bytes/sec", CounterKind::rate, needs, read_bytes_per_sec, "",
       "Bytes read per second",
       "/proc/diskstats "
       "sectors read (f3) delta*512 / seconds"},
      {object, "Disk Write Bytes/sec", CounterKind::rate, needs, write_bytes_per_sec, "",
       "Bytes written per second",
       "/proc/diskstats "
       "sectors written (f7) delta*512 / seconds"},
      {object, "Disk Bytes/sec", CounterKind::rate, needs, bytes_per_sec, "",
       "Bytes read plus written per second",
       "/proc/diskstats "
       "(f3+f7) deltas*512 / seconds"},
      {object, "Avg. Disk sec/Read", CounterKind::average, needs, sec_per_read, "s",
       "Mean time a read took; 0 without reads",
       "/proc/diskstats "
       "ms reading (f4) delta/1000 / f1 delta"},
      {object, "Avg. Disk sec/Write", CounterKind::average, needs, sec_per_write, "s",
       "Mean time a write took; 0 without writes",
       "/proc/diskstats "
       "ms writing (f8) delta/1000 / f5 delta"},
      {object, "Avg. Disk sec/Transfer", CounterKind::average, needs, sec_per_transfer, "s",
       "Mean time a request took; 0 without requests",
       "/proc/diskstats "
       "(f4+f8) deltas/1000 / (f1+f5) deltas"},
      {object, "Avg. Disk Queue Length", CounterKind::rate, needs, queue_length, "",
       "Mean number of requests queued or in service",
       "/proc/diskstats "
       "weighted ms doing I/O (f11) delta/1000 / seconds"},
      {object, "Avg. Disk Read Queue Length", CounterKind::rate, needs, read_queue_length, "",
       "Mean number of read requests queued or in service",
       "/proc/diskstats "
       "f4 delta/1000 / seconds"},
      {object, "Avg. Disk Write Queue Length", CounterKind::rate, needs, write_queue_length, "",
       "Mean number of write requests queued or in service",
       "/proc/diskstats "
       "f8 delta/1000 / seconds"},
      {object, "% Disk Time", CounterKind::percent, needs, disk_time, "%",
       "100 times the mean queue length (can pass 100)",
       "/proc/diskstats "
       "100*f11 delta/1000 / seconds"},
      {object, "% Idle Time", CounterKind::percent, needs, idle_time, "%",
       "Share of the interval with no request in flight (_Total: mean of the disks)",
       "/proc/diskstats "
       "100*(1 - ms doing I/O (f10) delta/1000 / seconds)"},
      {object, "Current Disk Queue Length", CounterKind::gauge, needs, current_queue_length, "",
       "Requests queued or in service now",
       "/proc/diskstats "
       "I/Os in progress (f9)"},
  };
}

}  // namespace perfdata::linux_backend
