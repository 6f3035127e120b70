#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// LogicalDisk: one instance per mounted filesystem (the mount point as it
// is), free space from statvfs and I/O from the backing device's diskstats
// row.
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>

#include "perfdata/linux/disk_counters.h"
#include "perfdata/linux/mountinfo.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

constexpr uint32_t kNeedSpace = 1;
constexpr uint32_t kNeedIo = 2;

// Sample.u layout for the space counters.
enum SpaceField { kAvail, kSize, kSpaceValid, kSpaceFields };

std::vector<MountEntry> read_mounts(const Env& env, bool& ok) {
  std::string text;
  ok = read_file(env, "proc/self/mountinfo", text);
  return ok ? parse_mountinfo(text) : std::vector<MountEntry>{};
}

std::string dev_number(const MountEntry& m) {
  return std::to_string(m.major) + ":" + std::to_string(m.minor);
}

// The diskstats name of a "/dev/..." source, with symlinks such as
// /dev/mapper/x -> ../dm-0 resolved inside the root. When the node cannot be
// resolved (no /dev in a container) the source's own last component is used.
std::string dev_source_name(const Env& env, const std::string& src) {
  std::string path = source(env, src);
  char buf[PATH_MAX];
  std::string resolved = ::realpath(path.c_str(), buf) ? std::string(buf) : src;
  size_t slash = resolved.rfind('/');
  return slash == std::string::npos ? resolved : resolved.substr(slash + 1);
}

bool has_dev_source(const MountEntry& m) {
  return m.major == 0 && m.source.size() > 5 && m.source.compare(0, 5, "/dev/") == 0;
}

// The identity that bind mounts and btrfs subvolumes of one device share.
std::string backing_key(const Env& env, const MountEntry& m) {
  if (has_dev_source(m)) return "dev " + dev_source_name(env, m.source);
  return dev_number(m);
}

// The diskstats row behind a mount: by maj:min for a real device number, by
// the source's device name for btrfs (major 0); overlay, zfs and the like
// have none.
const DiskRow* backing_row(const Env& env, const MountEntry& m, const std::vector<DiskRow>& rows) {
  if (m.major != 0) {
    for (const DiskRow& r : rows)
      if (r.major == m.major && r.minor == m.minor) return &r;
    return nullptr;
  }
  if (!has_dev_source(m)) return nullptr;
  std::string name = dev_source_name(env, m.source);
  for (const DiskRow& r : rows)
    if (r.name == name) return &r;
  return nullptr;
}

// Free and total bytes of one mount; false on a statvfs error or an empty
// filesystem (f_blocks 0), which have no meaningful fraction.
bool space_of(const Env& env, const MountEntry& m, uint64_t& avail, uint64_t& size) {
  FsStat st;
  if (!env.statvfs || env.statvfs(source(env, m.mount_point), st) != 0) return false;
  if (st.blocks == 0) return false;
  // f_frsize is the unit of the block counts; f_bsize is only the preferred I/O size.
  uint64_t used = st.blocks > st.bfree ? (st.blocks - st.bfree) * st.frsize : 0;
  avail = st.bavail * st.frsize;
  size = used + avail;
  return true;
}

constexpr const char kTotal[] = "_Total";

bool enumerate(const Env& env, std::vector<Instance>& out) {
  bool ok = false;
  std::vector<MountEntry> mounts = read_mounts(env, ok);
  if (!ok) return false;
  Instance total;
  total.name = kTotal;
  out.push_back(std::move(total));
  for (const MountEntry& m : mounts) {
    Instance inst;
    inst.name = m.mount_point;
    inst.key = m.mount_point;
    inst.id = 0;
    out.push_back(std::move(inst));
  }
  return true;
}

void collect_one(const Env& env, const MountEntry& m, uint32_t needs, Sample& out) {
  if (needs & kNeedIo) {
    std::vector<DiskRow> rows;
    if (!read_diskstats(env, rows)) return;
    const DiskRow* row = backing_row(env, m, rows);
    if (row == nullptr) return;  // no block device behind this mount
    store_disk_set(DiskSet{{*row}}, out);
  }
  if (needs & kNeedSpace) {
    out.u.assign(kSpaceFields, 0);
    out.u[kSpaceValid] = space_of(env, m, out.u[kAvail], out.u[kSize]) ? 1 : 0;
  }
  out.ok = true;
}

// Each backing device counts once, however many mount points show it.
void collect_total(const Env& env, const std::vector<MountEntry>& mounts, uint32_t needs,
                   Sample& out) {
  std::vector<DiskRow> rows;
  if ((needs & kNeedIo) && !read_diskstats(env, rows)) return;
  DiskSet set;
  std::vector<std::string> counted;
  uint64_t avail_sum = 0, size_sum = 0;
  bool any_space = false;
  for (const MountEntry& m : mounts) {
    std::string key = backing_key(env, m);
    if (std::find(counted.begin(), counted.end(), key) != counted.end()) continue;
    bool counted_here = false;
    if (needs & kNeedIo) {
      const DiskRow* row = backing_row(env, m, rows);
      if (row != nullptr && std::none_of(set.rows.begin(), set.rows.end(),
                                         [&](const DiskRow& r) { return r.name == row->name; })) {
        set.rows.push_back(*row);
        counted_here = true;
      }
    }
    if (needs & kNeedSpace) {
      uint64_t avail = 0, size = 0;
      // A mount whose statvfs fails is left out; a later mount of the same
      // device may still count it.
      if (space_of(env, m, avail, size)) {
        avail_sum += avail;
        size_sum += size;
        any_space = true;
        counted_here = true;
      }
    }
    if (counted_here) counted.push_back(std::move(key));
  }
  if (needs & kNeedIo) store_disk_set(std::move(set), out);
  if (needs & kNeedSpace) out.u = {avail_sum, size_sum, any_space ? 1u : 0u};
  out.ok = true;
}

void collect(const Env& env, const Instance& inst, uint32_t needs, const Sample*, Sample& out) {
  bool ok = false;
  std::vector<MountEntry> mounts = read_mounts(env, ok);
  if (!ok) return;
  if (inst.id < 0) {
    collect_total(env, mounts, needs, out);
    return;
  }
  auto it = std::find_if(mounts.begin(), mounts.end(),
                         [&](const MountEntry& m) { return m.mount_point == inst.key; });
  if (it == mounts.end()) return;  // unmounted since the add
  collect_one(env, *it, needs, out);
}

Value free_percent(const Sample*, const Sample& c, double, const Env&) {
  if (c.u.size() != kSpaceFields || c.u[kSpaceValid] == 0 || c.u[kSize] == 0) return std::nullopt;
  return 100.0 * static_cast<double>(c.u[kAvail]) / static_cast<double>(c.u[kSize]);
}

Value free_megabytes(const Sample*, const Sample& c, double, const Env&) {
  if (c.u.size() != kSpaceFields || c.u[kSpaceValid] == 0) return std::nullopt;
  return static_cast<double>(c.u[kAvail] >> 20);
}

const std::vector<CounterDef>& rows() {
  static const std::vector<CounterDef> table = [] {
    std::vector<CounterDef> t = {
        {"LogicalDisk", "% Free Space", CounterKind::fraction, kNeedSpace, free_percent, "%",
         "Space an unprivileged user can still write, as a share of used plus that space",
         "statvfs 100*f_bavail/(f_blocks-f_bfree+f_bavail)"},
        {"LogicalDisk", "Free Megabytes", CounterKind::gauge, kNeedSpace, free_megabytes, "",
         "Space an unprivileged user can still write, in whole MiB",
         "statvfs floor(f_bavail*f_frsize/2^20)"},
    };
    std::vector<CounterDef> io = disk_io_counters("LogicalDisk", kNeedIo);
    t.insert(t.end(), io.begin(), io.end());
    return t;
  }();
  return table;
}

}  // namespace

const ObjectDef& logical_disk_object() {
  static const ObjectDef obj{"LogicalDisk", true, rows(), enumerate, collect, true, 0};
  return obj;
}

}  // namespace perfdata::linux_backend
