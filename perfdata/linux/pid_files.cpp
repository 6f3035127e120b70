#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/pid_files.h"

#include <vector>

#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

bool parse_pid_stat(std::string_view text, PidStat& stat) {
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return false;
  PidStat s;
  std::vector<std::string_view> head = split_ws(text.substr(0, open));
  if (head.empty() || !parse_i64(head[0], s.pid)) return false;
  s.comm.assign(text.substr(open + 1, close - open - 1));
  // Tokens after the last ')' are fields 3 onward: field k = tok[k - 3].
  std::vector<std::string_view> tok = split_ws(text.substr(close + 1));
  if (tok.size() < 22) return false;  // short line: field 24 never seen
  auto at = [&tok](int field) { return tok[static_cast<size_t>(field - 3)]; };
  if (!parse_i64(at(4), s.ppid) || !parse_u64(at(10), s.minflt) || !parse_u64(at(12), s.majflt) ||
      !parse_u64(at(14), s.utime) || !parse_u64(at(15), s.stime) ||
      !parse_i64(at(20), s.num_threads) || !parse_u64(at(22), s.starttime) ||
      !parse_u64(at(23), s.vsize) || !parse_u64(at(24), s.rss)) {
    return false;
  }
  stat = std::move(s);
  return true;
}

bool parse_pid_status(std::string_view text, PidStatus& status) {
  struct Key {
    std::string_view name;
    uint64_t PidStatus::*field;
  };
  static constexpr Key kKeys[] = {
      {"VmRSS:", &PidStatus::vm_rss},     {"VmHWM:", &PidStatus::vm_hwm},
      {"RssAnon:", &PidStatus::rss_anon}, {"VmData:", &PidStatus::vm_data},
      {"VmStk:", &PidStatus::vm_stk},     {"VmSize:", &PidStatus::vm_size},
      {"VmPeak:", &PidStatus::vm_peak}};
  PidStatus s;
  for (std::string_view line : split_lines(text)) {
    if (line.size() < 6 || (line[0] != 'V' && line[0] != 'R')) continue;
    for (const Key& k : kKeys) {
      if (!line.starts_with(k.name)) continue;
      std::vector<std::string_view> tok = split_ws(line.substr(k.name.size()));
      if (tok.empty() || !parse_u64(tok[0], s.*k.field)) return false;
      break;
    }
  }
  status = s;
  return true;
}

bool parse_pid_io(std::string_view text, PidIo& io) {
  static constexpr std::string_view kNames[] = {"rchar:", "wchar:", "syscr:", "syscw:"};
  PidIo r;
  uint64_t* fields[] = {&r.rchar, &r.wchar, &r.syscr, &r.syscw};
  unsigned seen = 0;
  for (std::string_view line : split_lines(text)) {
    for (unsigned i = 0; i < 4; ++i) {
      if (!line.starts_with(kNames[i])) continue;
      std::vector<std::string_view> tok = split_ws(line.substr(kNames[i].size()));
      if (tok.empty() || !parse_u64(tok[0], *fields[i])) return false;
      seen |= 1u << i;
      break;
    }
  }
  if (seen != 0xF) return false;
  io = r;
  return true;
}

}  // namespace perfdata::linux_backend
