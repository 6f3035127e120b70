// Pure parsers for the disk and process sources of the Linux counter layer:
// text in, a record out, no file access. Each returns false (or skips the
// line) when the text is malformed, so the caller can mark the sample missing
// instead of serving a made-up number.
//
// Example: parse_pid_stat("42 (a) (b) S 1 ...") gives comm "a) (b" and
// ppid 1, because comm ends at the LAST ')' of the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace linperf {

// ---------------------------------------------------------------- diskstats

// One /proc/diskstats row: "maj min name f1 .. fN". N is 11, 15 or 17 by
// kernel; fields past 17 are ignored and fields not present read 0.
struct DiskRow {
  uint32_t major = 0;
  uint32_t minor = 0;
  std::string name;
  uint64_t f[18] = {};  // f[1]..f[17]; f[0] unused so indexes match iostats
  int nfields = 0;
};

// False for fewer than 11 fields or a token that is not a decimal number.
bool parse_diskstats_line(std::string_view line, DiskRow& row);
// Every well-formed row; a malformed row is left out, so its disk reads as
// missing at that collection.
std::vector<DiskRow> parse_diskstats(std::string_view text);

// --------------------------------------------------------------- mountinfo

struct MountEntry {
  uint32_t major = 0;
  uint32_t minor = 0;
  std::string mount_point;  // unescaped
  std::string fstype;
  std::string source;  // unescaped
};

// Undoes the kernel's octal escapes \040 (space) \011 (tab) \012 (newline)
// and \134 (backslash); any other backslash is kept as it is.
std::string unescape_mount_text(std::string_view text);

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

// ---------------------------------------------------------- block devices

// Whether a /sys/block entry is a physical disk: it needs a "device" link
// (loop, zram, ram, dm and md have none and would double-count), is not an
// optical drive (sr*), and has a non-zero size.
bool is_physical_block_entry(std::string_view name, bool has_device_link, uint64_t size_sectors);

// Container fallback when /sys/block cannot be read: a diskstats name is a
// physical disk unless it is a virtual device (loop, ram, zram, dm-, md, sr,
// fd followed by digits) or a partition (sda1, vdb2, xvda1, hda3, nvme0n1p1,
// mmcblk0p1).
bool is_physical_diskstats_name(std::string_view name);

// ---------------------------------------------------------------- processes

struct PidStat {
  int64_t pid = 0;
  std::string comm;  // raw, at most 15 bytes from the kernel
  int64_t ppid = 0;           // field 4
  uint64_t minflt = 0;        // field 10
  uint64_t majflt = 0;        // field 12
  uint64_t utime = 0;         // field 14, ticks
  uint64_t stime = 0;         // field 15, ticks
  int64_t num_threads = 0;    // field 20
  uint64_t starttime = 0;     // field 22, ticks since boot
  uint64_t vsize = 0;         // field 23, bytes
};

// /proc/<pid>/stat. comm is the text between the first '(' and the last ')',
// because comm may itself hold spaces and parentheses.
bool parse_pid_stat(std::string_view text, PidStat& stat);

// Values of /proc/<pid>/status in kB. Kernel threads and zombies have no
// Vm*/Rss* lines; those read 0.
struct PidStatus {
  uint64_t vm_rss = 0;
  uint64_t vm_hwm = 0;
  uint64_t rss_anon = 0;
  uint64_t vm_data = 0;
  uint64_t vm_stk = 0;
  uint64_t vm_size = 0;
  uint64_t vm_peak = 0;
};

// False only when a recognised line carries no number.
bool parse_pid_status(std::string_view text, PidStatus& status);

struct PidIo {
  uint64_t rchar = 0;
  uint64_t wchar = 0;
  uint64_t syscr = 0;
  uint64_t syscw = 0;
};

// /proc/<pid>/io; false unless all four lines are present and numeric.
bool parse_pid_io(std::string_view text, PidIo& io);

}  // namespace linperf
