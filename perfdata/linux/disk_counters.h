// The disk I/O counters shared by PhysicalDisk and the I/O half of
// LogicalDisk: both read /proc/diskstats rows and apply the same formulas.
//
// A disk sample carries a DiskSet: the diskstats rows of one disk, or of every
// member of a _Total. Formulas match members of the two samples by name and
// sum their deltas, so a _Total stays sound when a member appears or vanishes
// between collections. Example: members sda and sdb with Δf1 = 3 and 5 over
// dt = 2 s give Disk Reads/sec = 4.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <string>
#include <vector>

#include "perfdata/linux/catalogue.h"
#include "perfdata/linux/diskstats.h"

namespace perfdata::linux_backend {

struct DiskSet {
  std::vector<DiskRow> rows;
  // Per diskstats field, what a _Total's sum needs added to count only the
  // disks present at both ends of each interval (see carry_disk_total);
  // arithmetic modulo 2^64.
  uint64_t kept[18] = {};
};

// Sample.payload as a DiskSet, or null.
const DiskSet* disk_set(const Sample& s);
// Stores `set` in `out` as its payload and marks `out` usable.
void store_disk_set(DiskSet set, Sample& out);

// The ObjectDef::carry of an object whose _Total (key "", id -1) holds a
// DiskSet: a disk that left the set keeps its last counts in the sum and
// one that joined enters with its counts taken back, so the total's
// increase is that of the disks present at both collections; a member whose
// count went back (other than a 32-bit wrap) marks the total reset.
void carry_disk_total(const Pass& prev, Pass& cur);

// The fifteen I/O counter rows, with `object` as their object name and
// `needs` as their source bits.
std::vector<CounterDef> disk_io_counters(const char* object, uint32_t needs);

}  // namespace perfdata::linux_backend
