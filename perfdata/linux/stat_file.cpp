#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/stat_file.h"

#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

// The CPU number of a "cpu"/"cpuN" label: -1 for the total line, -2 for
// anything else.
int64_t cpu_label(std::string_view label) {
  if (label.substr(0, 3) != "cpu") return -2;
  std::string_view num = label.substr(3);
  if (num.empty()) return -1;
  uint64_t n = 0;
  if (!parse_u64(num, n) || n > 1000000) return -2;
  return static_cast<int64_t>(n);
}

}  // namespace

void parse_proc_stat(std::string_view text, ProcStat& out) {
  out = ProcStat{};
  std::vector<std::string_view> tok;
  for (std::string_view line : split_lines(text)) {
    tok = split_ws(line);
    if (tok.empty()) continue;
    if (tok[0] == "ctxt") {
      out.has_ctxt = tok.size() >= 2 && parse_u64(tok[1], out.ctxt);
      continue;
    }
    if (tok[0] == "procs_running") {
      out.has_running = tok.size() >= 2 && parse_u64(tok[1], out.procs_running);
      continue;
    }
    const int64_t cpu = cpu_label(tok[0]);
    if (cpu < -1) continue;
    CpuLine& c = out.cpus.emplace_back();
    c.cpu = cpu;
    c.label = tok[0];
    c.ok = tok.size() >= 5;
    for (size_t k = 0; c.ok && k < 8 && k + 1 < tok.size(); ++k)
      c.ok = parse_u64(tok[k + 1], c.ticks[k]);
  }
}

}  // namespace perfdata::linux_backend
