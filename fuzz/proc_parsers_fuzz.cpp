// The parsers of the Linux layer's sources, called on the input as text with
// no file in between: /proc/stat, /proc/<pid>/stat, status and io,
// /proc/diskstats and mountinfo. What they give must come from the input:
// a cpu label is a view inside it and says whether the line is the total,
// and a comm is text the input holds between parentheses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "perfdata/linux/diskstats.h"
#include "perfdata/linux/mountinfo.h"
#include "perfdata/linux/pid_files.h"
#include "perfdata/linux/stat_file.h"

namespace lb = perfdata::linux_backend;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  lb::ProcStat stat;
  lb::parse_proc_stat(text, stat);
  for (const lb::CpuLine& c : stat.cpus) {
    if (c.label.data() < text.data() || c.label.data() + c.label.size() > text.data() + size)
      abort();
    if (c.cpu < -1 || (c.cpu == -1) != (c.label == "cpu")) abort();
  }

  lb::PidStat pid;
  if (lb::parse_pid_stat(text, pid) && text.find("(" + pid.comm + ")") == std::string_view::npos)
    abort();
  lb::PidStatus status;
  lb::parse_pid_status(text, status);
  lb::PidIo io;
  lb::parse_pid_io(text, io);

  // Memory faults are what the sanitizers look for here.
  lb::parse_diskstats(text);
  lb::parse_mountinfo(text);
  return 0;
}
