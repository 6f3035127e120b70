#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// PhysicalDisk: one instance per whole disk, from /proc/diskstats, with the
// set of disks taken from /sys/block (or, in a container without /sys, from
// the diskstats names themselves).
#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_set>

#include <cerrno>

#include "perfdata/linux/disk_counters.h"
#include "perfdata/linux/system_calls.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

constexpr uint32_t kNeedDiskstats = 1;

// ------------------------------------------------------------- enumeration

bool has_device_link(const Env& env, const std::string& name) {
  return system_calls.lstat(source(env, "sys/block/" + name + "/device").c_str()) == 0;
}

uint64_t size_sectors(const Env& env, const std::string& name) {
  std::string text;
  uint64_t v = 0;
  if (!read_file(env, "sys/block/" + name + "/size", text)) return 0;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return parse_u64(text, v) ? v : 0;
}

// The whole disks among `rows`, in diskstats order.
std::vector<const DiskRow*> physical_disks(const Env& env, const std::vector<DiskRow>& rows) {
  std::vector<const DiskRow*> out;
  std::vector<std::string> entries;
  if (list_dir(env, "sys/block", entries)) {
    std::unordered_set<std::string_view> block(entries.begin(), entries.end());
    for (const DiskRow& row : rows) {
      if (block.count(row.name) == 0) continue;
      if (is_physical_block_entry(row.name, has_device_link(env, row.name),
                                  size_sectors(env, row.name)))
        out.push_back(&row);
    }
  } else {
    for (const DiskRow& row : rows)
      if (is_physical_diskstats_name(row.name)) out.push_back(&row);
  }
  return out;
}

constexpr const char kTotal[] = "_Total";

// One read of /proc/diskstats. Listing every disk also asks /sys/block which
// rows are whole disks; a pinned disk is found by its name alone.
void pass(const Env& env, const Request& req, Pass& out) {
  std::vector<DiskRow> rows;
  if (!read_diskstats(env, rows)) {
    out.problem = read_problem("proc/diskstats", errno);
    return;
  }
  out.ok = true;
  if (req.every) {
    std::vector<const DiskRow*> disks = physical_disks(env, rows);
    DiskSet all;
    for (const DiskRow* d : disks) all.rows.push_back(*d);
    if (req.wants(""))
      store_disk_set(std::move(all), add_instance(out, Instance{kTotal, "", -1, 0}));
    for (const DiskRow* d : disks) {
      store_disk_set(DiskSet{{*d}}, add_instance(out, Instance{mangle(d->name), d->name, 0, 0}));
    }
    return;
  }
  for (const DiskRow& row : rows) {
    if (req.pins.count(row.name) == 0) continue;
    store_disk_set(DiskSet{{row}}, add_instance(out, Instance{mangle(row.name), row.name, 0, 0}));
  }
}

const std::vector<CounterDef>& rows() {
  static const std::vector<CounterDef> table = disk_io_counters("PhysicalDisk", kNeedDiskstats);
  return table;
}

}  // namespace

const ObjectDef& physical_disk_object() {
  static const ObjectDef obj{"PhysicalDisk", true, rows(), pass, false, 0, carry_disk_total};
  return obj;
}

}  // namespace perfdata::linux_backend
