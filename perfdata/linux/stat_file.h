// The one parser of /proc/stat, which Processor (the cpu lines), System
// (ctxt, procs_running, the number of CPUs) and Process (Idle's ticks) all
// read: one read per collection, one parse of the same text.
//
// Example: parse_proc_stat("cpu  1 2 3 4 5\ncpu0 1 2 3 4 5\nctxt 9\n") gives
// cpus {{-1, "cpu", ok, {1,2,3,4,5,0,0,0}}, {0, "cpu0", ...}}, ctxt 9 and no
// procs_running.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstdint>
#include <string_view>
#include <vector>

namespace perfdata::linux_backend {

struct CpuLine {
  int64_t cpu = -1;        // N of "cpuN"; -1 for the total line "cpu"
  std::string_view label;  // "cpu", "cpu3": a view into the parsed text
  // The tick fields user nice system idle iowait irq softirq steal; false
  // when a field is not a number or fewer than four follow the label.
  // Missing trailing fields count 0; guest and guest_nice are already in
  // user and nice.
  bool ok = false;
  uint64_t ticks[8] = {};
};

struct ProcStat {
  std::vector<CpuLine> cpus;  // in file order; labels like "cpufoo" are left out
  bool has_ctxt = false, has_running = false;
  uint64_t ctxt = 0, procs_running = 0;
};

void parse_proc_stat(std::string_view text, ProcStat& out);

}  // namespace perfdata::linux_backend
