// PhysicalDisk: one instance per whole disk, from /proc/diskstats, with the
// set of disks taken from /sys/block (or, in a container without /sys, from
// the diskstats names themselves).
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/posix/perf/disk_counters.h"

namespace linperf {

namespace {

constexpr uint32_t kNeedDiskstats = 1;
constexpr double kSectorBytes = 512.0;  // diskstats sectors, whatever the logical block size

// Deltas summed over the members present in both samples.
struct DiskDeltas {
  uint64_t d[18] = {};
  double idle_percent_sum = 0.0;
  size_t members = 0;
};

std::optional<DiskDeltas> disk_deltas(const Sample* prev, const Sample& cur, double dt) {
  const DiskSet* a = prev ? disk_set(*prev) : nullptr;
  const DiskSet* b = disk_set(cur);
  if (a == nullptr || b == nullptr || dt <= 0.0) return std::nullopt;
  DiskDeltas out;
  for (const DiskRow& row : b->rows) {
    auto old = std::find_if(a->rows.begin(), a->rows.end(),
                            [&](const DiskRow& r) { return r.name == row.name; });
    if (old == a->rows.end()) continue;
    uint64_t d[18] = {};
    for (int k = 1; k <= 11; ++k) {
      if (k == 9) continue;  // f9 is an instant queue length, not a count
      std::optional<uint64_t> v = delta(old->f[k], row.f[k]);
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
Value with_deltas(const Sample* prev, const Sample& cur, double dt, Fn fn) {
  std::optional<DiskDeltas> d = disk_deltas(prev, cur, dt);
  if (!d) return std::nullopt;
  return fn(*d, dt);
}

double ratio_or_zero(double num, double den) { return den == 0.0 ? 0.0 : num / den; }

Value reads_per_sec(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double t) { return d.d[1] / t; });
}
Value writes_per_sec(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double t) { return d.d[5] / t; });
}
Value transfers_per_sec(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt,
                     [](const DiskDeltas& d, double t) { return (double(d.d[1]) + d.d[5]) / t; });
}
Value read_bytes_per_sec(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt,
                     [](const DiskDeltas& d, double t) { return d.d[3] * kSectorBytes / t; });
}
Value write_bytes_per_sec(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt,
                     [](const DiskDeltas& d, double t) { return d.d[7] * kSectorBytes / t; });
}
Value bytes_per_sec(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double t) {
    return (double(d.d[3]) + d.d[7]) * kSectorBytes / t;
  });
}
Value sec_per_read(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double) {
    return ratio_or_zero(d.d[4] / 1000.0, double(d.d[1]));
  });
}
Value sec_per_write(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double) {
    return ratio_or_zero(d.d[8] / 1000.0, double(d.d[5]));
  });
}
Value sec_per_transfer(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double) {
    return ratio_or_zero((double(d.d[4]) + d.d[8]) / 1000.0, double(d.d[1]) + d.d[5]);
  });
}
Value queue_length(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double t) { return d.d[11] / (1000.0 * t); });
}
Value read_queue_length(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double t) { return d.d[4] / (1000.0 * t); });
}
Value write_queue_length(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt, [](const DiskDeltas& d, double t) { return d.d[8] / (1000.0 * t); });
}
Value disk_time(const Sample* p, const Sample& c, double dt, const Env&) {
  return with_deltas(p, c, dt,
                     [](const DiskDeltas& d, double t) { return 100.0 * d.d[11] / (1000.0 * t); });
}
Value idle_time(const Sample* p, const Sample& c, double dt, const Env&) {
  std::optional<DiskDeltas> d = disk_deltas(p, c, dt);
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

// ------------------------------------------------------------- enumeration

bool has_device_link(const Env& env, const std::string& name) {
  struct stat st {};
  return ::lstat(source(env, "sys/block/" + name + "/device").c_str(), &st) == 0;
}

uint64_t size_sectors(const Env& env, const std::string& name) {
  std::string text;
  uint64_t v = 0;
  if (!read_file(env, "sys/block/" + name + "/size", text)) return 0;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return parse_u64(text, v) ? v : 0;
}

// The whole disks among `rows`, in diskstats order.
std::vector<std::string> physical_disks(const Env& env, const std::vector<DiskRow>& rows) {
  std::vector<std::string> out;
  std::vector<std::string> entries;
  if (list_dir(env, "sys/block", entries)) {
    for (const DiskRow& row : rows) {
      if (std::find(entries.begin(), entries.end(), row.name) == entries.end()) continue;
      if (is_physical_block_entry(row.name, has_device_link(env, row.name), size_sectors(env, row.name)))
        out.push_back(row.name);
    }
  } else {
    for (const DiskRow& row : rows)
      if (is_physical_diskstats_name(row.name)) out.push_back(row.name);
  }
  return out;
}

constexpr const char kTotal[] = "_Total";

bool enumerate(const Env& env, std::vector<Instance>& out) {
  std::vector<DiskRow> rows;
  if (!read_diskstats(env, rows)) return false;
  std::vector<std::string> disks = physical_disks(env, rows);
  Instance total;
  total.name = kTotal;
  for (const std::string& d : disks) {
    total.key += d;
    total.key += '\n';
  }
  out.push_back(std::move(total));
  for (const std::string& d : disks) {
    Instance inst;
    inst.name = mangle(d);
    inst.key = d;
    inst.id = 0;
    out.push_back(std::move(inst));
  }
  return true;
}

// A disk instance reads its own row; _Total reads the rows of the disks
// enumerated at add, leaving out any that have since gone.
void collect(const Env& env, const Instance& inst, uint32_t, const Sample*, Sample& out) {
  std::vector<DiskRow> rows;
  if (!read_diskstats(env, rows)) return;
  DiskSet set;
  if (inst.id < 0) {
    std::string_view members = inst.key;
    for (std::string_view name : split_lines(members)) {
      auto it = std::find_if(rows.begin(), rows.end(), [&](const DiskRow& r) { return r.name == name; });
      if (it != rows.end()) set.rows.push_back(*it);
    }
  } else {
    auto it = std::find_if(rows.begin(), rows.end(), [&](const DiskRow& r) { return r.name == inst.key; });
    if (it == rows.end()) return;
    set.rows.push_back(*it);
  }
  store_disk_set(std::move(set), out);
}

const std::vector<CounterDef>& rows() {
  static const std::vector<CounterDef> table = disk_io_counters("PhysicalDisk", kNeedDiskstats);
  return table;
}

}  // namespace

const DiskSet* disk_set(const Sample& s) {
  return s.ok ? static_cast<const DiskSet*>(s.payload.get()) : nullptr;
}

void store_disk_set(DiskSet set, Sample& out) {
  out.payload = std::make_shared<const DiskSet>(std::move(set));
  out.ok = true;
}

bool read_diskstats(const Env& env, std::vector<DiskRow>& rows) {
  std::string text;
  if (!read_file(env, "proc/diskstats", text)) return false;
  rows = parse_diskstats(text);
  return true;
}

std::vector<CounterDef> disk_io_counters(const char* object, uint32_t needs) {
  return {
      {object, "Disk Reads/sec", Kind::R, false, needs, reads_per_sec},
      {object, "Disk Writes/sec", Kind::R, false, needs, writes_per_sec},
      {object, "Disk Transfers/sec", Kind::R, false, needs, transfers_per_sec},
      {object, "Disk Read Bytes/sec", Kind::R, false, needs, read_bytes_per_sec},
      {object, "Disk Write Bytes/sec", Kind::R, false, needs, write_bytes_per_sec},
      {object, "Disk Bytes/sec", Kind::R, false, needs, bytes_per_sec},
      {object, "Avg. Disk sec/Read", Kind::A, false, needs, sec_per_read},
      {object, "Avg. Disk sec/Write", Kind::A, false, needs, sec_per_write},
      {object, "Avg. Disk sec/Transfer", Kind::A, false, needs, sec_per_transfer},
      {object, "Avg. Disk Queue Length", Kind::R, false, needs, queue_length},
      {object, "Avg. Disk Read Queue Length", Kind::R, false, needs, read_queue_length},
      {object, "Avg. Disk Write Queue Length", Kind::R, false, needs, write_queue_length},
      {object, "% Disk Time", Kind::P, true, needs, disk_time},
      {object, "% Idle Time", Kind::P, true, needs, idle_time},
      {object, "Current Disk Queue Length", Kind::G, false, needs, current_queue_length},
  };
}

const ObjectDef& physical_disk_object() {
  static const ObjectDef obj{"PhysicalDisk", true, rows(), enumerate, collect};
  return obj;
}

}  // namespace linperf
