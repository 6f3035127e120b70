#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

// LogicalDisk: one instance per mounted filesystem (the mount point as it
// is), free space from statvfs and I/O from the backing device's diskstats
// row.
#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include <cerrno>

#include "perfdata/linux/disk_counters.h"
#include "perfdata/linux/mountinfo.h"
#include "perfdata/linux/system_calls.h"
#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

constexpr uint32_t kNeedSpace = 1;
constexpr uint32_t kNeedIo = 2;

// Sample.u layout for the space counters.
enum SpaceField { kAvail, kSize, kSpaceValid, kSpaceFields };

std::string dev_number(const MountEntry& m) {
  return std::to_string(m.major) + ":" + std::to_string(m.minor);
}

// The diskstats name of a "/dev/..." source, with symlinks such as
// /dev/mapper/x -> ../dm-0 resolved inside the root. When the node cannot be
// resolved (no /dev in a container) the source's own last component is used.
std::string dev_source_name(const Env& env, const std::string& src) {
  std::string resolved = src;
  system_calls.real_path(source(env, src).c_str(), &resolved);
  size_t slash = resolved.rfind('/');
  return slash == std::string::npos ? resolved : resolved.substr(slash + 1);
}

bool has_dev_source(const MountEntry& m) {
  return m.major == 0 && m.source.size() > 5 && m.source.compare(0, 5, "/dev/") == 0;
}

// The identity that bind mounts and btrfs subvolumes of one device share.
// `dev` is dev_source_name() of a "/dev/..." source, resolved once per mount.
std::string backing_key(const MountEntry& m, const std::string& dev) {
  if (has_dev_source(m)) return "dev " + dev;
  return dev_number(m);
}

// The diskstats rows by device number and by name.
struct DiskIndex {
  std::unordered_map<uint64_t, const DiskRow*> by_number;
  std::unordered_map<std::string_view, const DiskRow*> by_name;
  explicit DiskIndex(const std::vector<DiskRow>& rows) {
    for (const DiskRow& r : rows) {
      by_number.emplace((uint64_t{r.major} << 32) | r.minor, &r);
      by_name.emplace(r.name, &r);
    }
  }
};

// The diskstats row behind a mount: by maj:min for a real device number, by
// the source's device name for btrfs (major 0); overlay, zfs and the like
// have none.
const DiskRow* backing_row(const MountEntry& m, const std::string& dev, const DiskIndex& disks) {
  if (m.major != 0) {
    auto it = disks.by_number.find((uint64_t{m.major} << 32) | m.minor);
    return it == disks.by_number.end() ? nullptr : it->second;
  }
  if (!has_dev_source(m)) return nullptr;
  auto it = disks.by_name.find(dev);
  return it == disks.by_name.end() ? nullptr : it->second;
}

// Free and total bytes of one mount; false on a statvfs error or an empty
// filesystem (f_blocks 0), which have no meaningful fraction.
bool space_of(const Env& env, const MountEntry& m, uint64_t& avail, uint64_t& size) {
  FsStat st;
  if (system_calls.statvfs(source(env, m.mount_point).c_str(), &st) != 0) return false;
  if (st.blocks == 0) return false;
  // f_frsize is the unit of the block counts; f_bsize is only the preferred I/O size.
  uint64_t used = st.blocks > st.bfree ? (st.blocks - st.bfree) * st.frsize : 0;
  avail = st.bavail * st.frsize;
  size = used + avail;
  return true;
}

constexpr const char kTotal[] = "_Total";

// One read of mountinfo (and of diskstats for I/O counters), one statvfs
// per mount asked for; _Total sums those same results, each backing device
// once, however many mount points show it.
void pass(const Env& env, const Request& req, Pass& out) {
  std::string text;
  if (!read_file(env, "proc/self/mountinfo", text)) {
    out.problem = read_problem("proc/self/mountinfo", errno);
    return;
  }
  out.ok = true;
  const std::vector<MountEntry> mounts = parse_mountinfo(text);
  const uint32_t all = req.all_needs();
  std::vector<DiskRow> rows;
  const bool io = (all & kNeedIo) && read_diskstats(env, rows);
  const DiskIndex disks(rows);
  const bool total = req.wants("");
  if (total) add_instance(out, Instance{kTotal, "", -1, 0});
  DiskSet total_set;
  std::unordered_set<std::string> counted, counted_rows;
  uint64_t avail_sum = 0, size_sum = 0;
  bool any_space = false;
  for (const MountEntry& m : mounts) {
    const bool wanted = req.wants(m.mount_point);
    if (!wanted && !total) continue;
    const uint32_t needs = req.needs_of(m.mount_point);
    // Symlinks such as /dev/mapper/x are resolved once, for I/O and _Total alike.
    const std::string dev =
        has_dev_source(m) && (io || total) ? dev_source_name(env, m.source) : "";
    const DiskRow* row = io ? backing_row(m, dev, disks) : nullptr;
    uint64_t avail = 0, size = 0;
    const bool space = (needs & kNeedSpace) && space_of(env, m, avail, size);
    if (wanted) {
      Sample& s = add_instance(out, Instance{mangle(m.mount_point, true), m.mount_point, 0, 0});
      // No block device behind this mount (or no diskstats): no I/O counters.
      if (row != nullptr) {
        store_disk_set(DiskSet{{*row}}, s);
      } else if (needs & kNeedIo) {
        s.missing |= kNeedIo;
      }
      s.u = {avail, size, space ? 1u : 0u};
      s.ok = true;
    }
    if (!total) continue;
    std::string key = backing_key(m, dev);
    if (counted.count(key) != 0) continue;
    bool counted_here = false;
    if (row != nullptr && counted_rows.insert(row->name).second) {
      total_set.rows.push_back(*row);
      counted_here = true;
    }
    // A mount whose statvfs fails is left out; a later mount of the same
    // device may still count it.
    if (space) {
      avail_sum += avail;
      size_sum += size;
      any_space = true;
      counted_here = true;
    }
    if (counted_here) counted.insert(std::move(key));
  }
  if (total) {
    Sample& s = out.samples.front();
    if (io) {
      store_disk_set(std::move(total_set), s);
    } else if (all & kNeedIo) {
      s.missing |= kNeedIo;
    }
    s.u = {avail_sum, size_sum, any_space ? 1u : 0u};
    s.ok = true;
  }
}

bool free_share(const Sample& s, int64_t, const Env&, RawCounter& out) {
  if (s.u.size() != kSpaceFields || s.u[kSpaceValid] == 0) return false;
  out.first_value = static_cast<int64_t>(s.u[kAvail]);
  out.second_value = static_cast<int64_t>(s.u[kSize]);
  return true;
}

bool free_megabytes(const Sample& s, int64_t, const Env&, RawCounter& out) {
  if (s.u.size() != kSpaceFields || s.u[kSpaceValid] == 0) return false;
  out.first_value = static_cast<int64_t>(s.u[kAvail] >> 20);
  return true;
}

const std::vector<CounterDef>& rows() {
  static const std::vector<CounterDef> table = [] {
    std::vector<CounterDef> t = {
        {"LogicalDisk",
         "% Free Space",
         CounterKind::fraction,
         kNeedSpace,
         nullptr,
         "%",
         "Space an unprivileged user can still write, as a share of used plus that space",
         "statvfs 100*f_bavail/(f_blocks-f_bfree+f_bavail)",
         {TYPE_LARGE_RAW_FRACTION, free_share, TimeBase::stamp, false,
          "first value the free bytes; second value the size in bytes"}},
        {"LogicalDisk", "Free Megabytes", CounterKind::gauge, kNeedSpace, nullptr, "",
         "Space an unprivileged user can still write, in whole MiB",
         "statvfs floor(f_bavail*f_frsize/2^20)",
         large_count(free_megabytes, "first value the whole MiB")},
    };
    std::vector<CounterDef> io = disk_io_counters("LogicalDisk", kNeedIo);
    t.insert(t.end(), io.begin(), io.end());
    return t;
  }();
  return table;
}

}  // namespace

const ObjectDef& logical_disk_object() {
  static const ObjectDef obj{"LogicalDisk", true, rows(), pass, true, 0, carry_disk_total};
  return obj;
}

}  // namespace perfdata::linux_backend
