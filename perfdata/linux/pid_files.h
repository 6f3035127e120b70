// Parsers of /proc/<pid>/stat, status and io. Pure functions: text in, a
// record out; false when the text is malformed, so the caller can mark the
// sample missing instead of serving a made-up number.
//
// Example: parse_pid_stat("42 (a) (b) S 1 ...") gives comm "a) (b" and
// ppid 1, because comm ends at the LAST ')' of the line.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstdint>
#include <string>
#include <string_view>

namespace perfdata::linux_backend {

struct PidStat {
  int64_t pid = 0;
  std::string comm;         // raw, at most 15 bytes from the kernel
  int64_t ppid = 0;         // field 4
  uint64_t minflt = 0;      // field 10
  uint64_t majflt = 0;      // field 12
  uint64_t utime = 0;       // field 14, ticks
  uint64_t stime = 0;       // field 15, ticks
  int64_t num_threads = 0;  // field 20
  uint64_t starttime = 0;   // field 22, ticks since boot
  uint64_t vsize = 0;       // field 23, bytes
  uint64_t rss = 0;         // field 24, resident pages (status VmRSS / page size)
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

}  // namespace perfdata::linux_backend
