// /proc/self/mountinfo rows and the choice of mounts served as LogicalDisk
// instances. Pure functions.
//
// Example: "36 25 8:1 / /mnt/my\040disk rw - ext4 /dev/sda1 rw" gives
// 8:1, mount point "/mnt/my disk", fstype "ext4", source "/dev/sda1".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace perfdata::linux_backend {

struct MountEntry {
  uint32_t major = 0;
  uint32_t minor = 0;
  std::string mount_point;  // unescaped
  std::string fstype;
  std::string source;  // unescaped
};

// Field 3 maj:min, field 5 mount point, optional fields up to the "-" token,
// then fstype and source. False when a field is missing or maj:min is bad.
bool parse_mountinfo_line(std::string_view line, MountEntry& entry);

// Filesystems with no disk behind them, and network filesystems (statvfs can
// hang on a dead server, and mapped network drives are not logical disks).
bool is_skipped_fstype(std::string_view fstype);

// The mounts served as LogicalDisk instances: skip-listed types removed, and
// for a mount point seen more than once only the last (visible) entry kept,
// at the position of that last entry.
std::vector<MountEntry> parse_mountinfo(std::string_view text);

}  // namespace perfdata::linux_backend
