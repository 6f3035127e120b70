// /proc/self/mountinfo rows and the choice of mounts served as LogicalDisk
// instances. Pure functions.
//
// Example: "36 25 8:1 / /mnt/my\040disk rw - ext4 /dev/sda1 rw" gives
// 8:1, mount point "/mnt/my disk", fstype "ext4", source "/dev/sda1".
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

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

// Whether a mount is a local filesystem served as a LogicalDisk instance:
// never a pseudo or image filesystem (proc, tmpfs, squashfs...) and never a
// FUSE filesystem (fuse, every fuse.*, fuseblk although a block device is
// behind it); otherwise a block device behind it (major number not 0), or
// one of the local major-0 types btrfs, zfs, bcachefs and overlay.
// Everything else (nfs, cifs, 9p, virtiofs, types unknown today) is left
// out: statvfs on a dead server or a stuck FUSE daemon blocks where no
// signal ends it, and mapped network drives are no logical disks on Windows
// either.
bool is_local_mount(const MountEntry& m);

// The mounts served as LogicalDisk instances: non-local mounts removed, and
// for a mount point seen more than once only the last (visible) entry kept,
// at the position of that last entry.
std::vector<MountEntry> parse_mountinfo(std::string_view text);

}  // namespace perfdata::linux_backend
