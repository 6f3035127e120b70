#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// PhysicalDisk: one instance per whole disk, from /proc/diskstats, with the
// set of disks taken from /sys/block (or, in a container without /sys, from
// the diskstats names themselves).
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "perfdata/linux/disk_counters.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

constexpr uint32_t kNeedDiskstats = 1;

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
      if (is_physical_block_entry(row.name, has_device_link(env, row.name),
                                  size_sectors(env, row.name)))
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
      auto it =
          std::find_if(rows.begin(), rows.end(), [&](const DiskRow& r) { return r.name == name; });
      if (it != rows.end()) set.rows.push_back(*it);
    }
  } else {
    auto it = std::find_if(rows.begin(), rows.end(),
                           [&](const DiskRow& r) { return r.name == inst.key; });
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

const ObjectDef& physical_disk_object() {
  static const ObjectDef obj{"PhysicalDisk", true, rows(), enumerate, collect};
  return obj;
}

}  // namespace perfdata::linux_backend
