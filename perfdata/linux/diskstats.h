// /proc/diskstats rows and the rules that tell whole disks from partitions
// and virtual block devices. Pure functions, plus read_diskstats.
//
// Example: parse_diskstats_line(" 254 0 vda 10 2 300 40 5 6 700 80 1 90 120")
// gives major 254, name "vda", f[1] = 10, f[11] = 120, nfields 11.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "perfdata/linux/env.h"

namespace perfdata::linux_backend {

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
// Reads and parses <root>/proc/diskstats; false when it cannot be read.
bool read_diskstats(const Env& env, std::vector<DiskRow>& rows);

// Whether a /sys/block entry is a physical disk: it needs a "device" link
// (loop, zram, ram, dm and md have none and would double-count), is not an
// optical drive (sr*), and has a non-zero size.
bool is_physical_block_entry(std::string_view name, bool has_device_link, uint64_t size_sectors);

// Container fallback when /sys/block cannot be read: a diskstats name is a
// physical disk unless it is a virtual device (loop, ram, zram, dm-, md, sr,
// fd followed by digits) or a partition (sda1, vdb2, xvda1, hda3, nvme0n1p1,
// mmcblk0p1).
bool is_physical_diskstats_name(std::string_view name);

}  // namespace perfdata::linux_backend
