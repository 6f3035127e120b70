#include "platform/posix/perf/proc_parsers.h"

#include <algorithm>
#include <array>

namespace linperf {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Next token separated by spaces or tabs; empty at the end of the text.
std::string_view next_token(std::string_view text, size_t& pos) {
  while (pos < text.size() && is_space(text[pos])) ++pos;
  size_t start = pos;
  while (pos < text.size() && !is_space(text[pos])) ++pos;
  return text.substr(start, pos - start);
}

// Whole-token unsigned decimal; values past 2^64 are rejected, not wrapped.
bool to_u64(std::string_view token, uint64_t& out) {
  if (token.empty() || token.size() > 20) return false;
  uint64_t v = 0;
  for (char c : token) {
    if (!is_digit(c)) return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

// Signed decimal: ppid and num_threads are printed as int, and a stat line
// with "-1" in a field we read must not fail the whole line.
bool to_i64(std::string_view token, int64_t& out) {
  bool neg = !token.empty() && token[0] == '-';
  uint64_t v = 0;
  if (!to_u64(neg ? token.substr(1) : token, v) || v > static_cast<uint64_t>(INT64_MAX)) return false;
  out = neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

bool to_u32(std::string_view token, uint32_t& out) {
  uint64_t v = 0;
  if (!to_u64(token, v) || v > UINT32_MAX) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// Calls fn(line) for every line of the text, without the '\n'.
template <class Fn>
void for_each_line(std::string_view text, Fn fn) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    fn(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// From `from`: one or more of a-z, then one or more digits, then the end.
bool letters_then_digits(std::string_view name, size_t from) {
  size_t i = from;
  while (i < name.size() && name[i] >= 'a' && name[i] <= 'z') ++i;
  if (i == from || i == name.size()) return false;
  while (i < name.size() && is_digit(name[i])) ++i;
  return i == name.size();
}

// `prefix` followed by one or more digits and nothing else.
bool prefix_digits(std::string_view name, std::string_view prefix) {
  if (!starts_with(name, prefix) || name.size() == prefix.size()) return false;
  return std::all_of(name.begin() + prefix.size(), name.end(), is_digit);
}

size_t skip_digits(std::string_view s, size_t i) {
  while (i < s.size() && is_digit(s[i])) ++i;
  return i;
}

}  // namespace

// ---------------------------------------------------------------- diskstats

bool parse_diskstats_line(std::string_view line, DiskRow& row) {
  size_t pos = 0;
  DiskRow r;
  if (!to_u32(next_token(line, pos), r.major)) return false;
  if (!to_u32(next_token(line, pos), r.minor)) return false;
  std::string_view name = next_token(line, pos);
  if (name.empty()) return false;
  r.name.assign(name);
  for (;;) {
    std::string_view tok = next_token(line, pos);
    if (tok.empty()) break;
    uint64_t v = 0;
    if (!to_u64(tok, v)) return false;
    ++r.nfields;
    if (r.nfields <= 17) r.f[r.nfields] = v;
  }
  if (r.nfields < 11) return false;
  row = std::move(r);
  return true;
}

std::vector<DiskRow> parse_diskstats(std::string_view text) {
  std::vector<DiskRow> rows;
  for_each_line(text, [&](std::string_view line) {
    DiskRow row;
    if (parse_diskstats_line(line, row)) rows.push_back(std::move(row));
  });
  return rows;
}

// --------------------------------------------------------------- mountinfo

std::string unescape_mount_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      std::string_view code = text.substr(i + 1, 3);
      char c = 0;
      if (code == "040") c = ' ';
      else if (code == "011") c = '\t';
      else if (code == "012") c = '\n';
      else if (code == "134") c = '\\';
      if (c != 0) {
        out.push_back(c);
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

bool parse_mountinfo_line(std::string_view line, MountEntry& entry) {
  size_t pos = 0;
  next_token(line, pos);  // mount id
  next_token(line, pos);  // parent id
  std::string_view dev = next_token(line, pos);
  next_token(line, pos);  // root within the filesystem
  std::string_view mount_point = next_token(line, pos);
  if (mount_point.empty()) return false;
  size_t colon = dev.find(':');
  if (colon == std::string_view::npos) return false;
  MountEntry e;
  if (!to_u32(dev.substr(0, colon), e.major) || !to_u32(dev.substr(colon + 1), e.minor)) return false;
  next_token(line, pos);  // mount options
  for (;;) {
    std::string_view tok = next_token(line, pos);
    if (tok.empty()) return false;  // no "-" separator
    if (tok == "-") break;
  }
  std::string_view fstype = next_token(line, pos);
  std::string_view source = next_token(line, pos);
  if (fstype.empty()) return false;
  e.mount_point = unescape_mount_text(mount_point);
  e.fstype.assign(fstype);
  e.source = unescape_mount_text(source);
  entry = std::move(e);
  return true;
}

bool is_skipped_fstype(std::string_view fstype) {
  static constexpr std::array<std::string_view, 31> kSkipped = {
      // pseudo and read-only image filesystems
      "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "ramfs", "cgroup", "cgroup2", "securityfs",
      "debugfs", "tracefs", "pstore", "bpf", "configfs", "fusectl", "mqueue", "hugetlbfs", "autofs",
      "binfmt_misc", "rpc_pipefs", "nsfs", "efivarfs", "selinuxfs", "squashfs", "erofs",
      // network filesystems
      "nfs", "nfs4", "cifs", "smb3", "ceph", "glusterfs"};
  if (fstype == "fuse.sshfs") return true;
  return std::find(kSkipped.begin(), kSkipped.end(), fstype) != kSkipped.end();
}

std::vector<MountEntry> parse_mountinfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  for_each_line(text, [&](std::string_view line) {
    MountEntry e;
    if (!parse_mountinfo_line(line, e) || is_skipped_fstype(e.fstype)) return;
    // A later mount on the same point hides the earlier one.
    auto same = std::find_if(mounts.begin(), mounts.end(),
                             [&](const MountEntry& m) { return m.mount_point == e.mount_point; });
    if (same != mounts.end()) mounts.erase(same);
    mounts.push_back(std::move(e));
  });
  return mounts;
}

// ---------------------------------------------------------- block devices

bool is_physical_block_entry(std::string_view name, bool has_device_link, uint64_t size_sectors) {
  return has_device_link && size_sectors != 0 && !starts_with(name, "sr");
}

bool is_physical_diskstats_name(std::string_view name) {
  for (std::string_view p : {"loop", "ram", "zram", "dm-", "md", "sr", "fd"})
    if (prefix_digits(name, p)) return false;
  // sd/vd/xvd/hd + letters + digits: a partition of a whole disk.
  for (std::string_view p : {"sd", "vd", "xvd", "hd"})
    if (starts_with(name, p) && letters_then_digits(name, p.size())) return false;
  // nvme<d>n<d>p<d> and mmcblk<d>p<d>
  if (starts_with(name, "nvme")) {
    size_t i = skip_digits(name, 4);
    if (i > 4 && i < name.size() && name[i] == 'n') {
      size_t j = skip_digits(name, i + 1);
      if (j > i + 1 && j < name.size() && name[j] == 'p') {
        size_t k = skip_digits(name, j + 1);
        if (k > j + 1 && k == name.size()) return false;
      }
    }
  }
  if (starts_with(name, "mmcblk")) {
    size_t i = skip_digits(name, 6);
    if (i > 6 && i < name.size() && name[i] == 'p') {
      size_t k = skip_digits(name, i + 1);
      if (k > i + 1 && k == name.size()) return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------- processes

bool parse_pid_stat(std::string_view text, PidStat& stat) {
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
  PidStat s;
  size_t pos = 0;
  if (!to_i64(next_token(text.substr(0, open), pos), s.pid)) return false;
  s.comm.assign(text.substr(open + 1, close - open - 1));
  // Tokens after the last ')' are fields 3 onward.
  std::string_view rest = text.substr(close + 1);
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == ' ')) rest.remove_suffix(1);
  pos = 0;
  int field = 3;
  for (;;) {
    std::string_view tok = next_token(rest, pos);
    if (tok.empty() || field > 23) break;
    bool ok = true;
    switch (field) {
      case 4: ok = to_i64(tok, s.ppid); break;
      case 10: ok = to_u64(tok, s.minflt); break;
      case 12: ok = to_u64(tok, s.majflt); break;
      case 14: ok = to_u64(tok, s.utime); break;
      case 15: ok = to_u64(tok, s.stime); break;
      case 20: ok = to_i64(tok, s.num_threads); break;
      case 22: ok = to_u64(tok, s.starttime); break;
      case 23: ok = to_u64(tok, s.vsize); break;
      default: break;
    }
    if (!ok) return false;
    ++field;
  }
  if (field <= 23) return false;  // short line: field 23 never seen
  stat = std::move(s);
  return true;
}

bool parse_pid_status(std::string_view text, PidStatus& status) {
  struct Key {
    std::string_view name;
    uint64_t PidStatus::*field;
  };
  static constexpr Key kKeys[] = {
      {"VmRSS:", &PidStatus::vm_rss},   {"VmHWM:", &PidStatus::vm_hwm},
      {"RssAnon:", &PidStatus::rss_anon}, {"VmData:", &PidStatus::vm_data},
      {"VmStk:", &PidStatus::vm_stk},   {"VmSize:", &PidStatus::vm_size},
      {"VmPeak:", &PidStatus::vm_peak}};
  PidStatus s;
  bool ok = true;
  for_each_line(text, [&](std::string_view line) {
    if (line.size() < 6 || (line[0] != 'V' && line[0] != 'R')) return;
    for (const Key& k : kKeys) {
      if (!starts_with(line, k.name)) continue;
      size_t pos = k.name.size();
      if (!to_u64(next_token(line, pos), s.*k.field)) ok = false;
      return;
    }
  });
  if (!ok) return false;
  status = s;
  return true;
}

bool parse_pid_io(std::string_view text, PidIo& io) {
  PidIo r;
  unsigned seen = 0;
  bool ok = true;
  for_each_line(text, [&](std::string_view line) {
    static constexpr std::string_view kNames[] = {"rchar:", "wchar:", "syscr:", "syscw:"};
    uint64_t* fields[] = {&r.rchar, &r.wchar, &r.syscr, &r.syscw};
    for (unsigned i = 0; i < 4; ++i) {
      if (!starts_with(line, kNames[i])) continue;
      size_t pos = kNames[i].size();
      if (!to_u64(next_token(line, pos), *fields[i])) ok = false;
      seen |= 1u << i;
      return;
    }
  });
  if (!ok || seen != 0xF) return false;
  io = r;
  return true;
}

}  // namespace linperf
