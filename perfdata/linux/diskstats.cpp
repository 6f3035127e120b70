#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/diskstats.h"

#include <algorithm>

#include "perfdata/linux/text.h"

namespace perfdata::linux_backend {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

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
  if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
  return std::all_of(name.begin() + prefix.size(), name.end(), is_digit);
}

size_t skip_digits(std::string_view s, size_t i) {
  while (i < s.size() && is_digit(s[i])) ++i;
  return i;
}

}  // namespace

bool parse_diskstats_line(std::string_view line, DiskRow& row) {
  std::vector<std::string_view> tok = split_ws(line);
  DiskRow r;
  if (tok.size() < 3 || !parse_u32(tok[0], r.major) || !parse_u32(tok[1], r.minor)) return false;
  r.name.assign(tok[2]);
  for (size_t i = 3; i < tok.size(); ++i) {
    uint64_t v = 0;
    if (!parse_u64(tok[i], v)) return false;
    ++r.nfields;
    if (r.nfields <= 17) r.f[r.nfields] = v;
  }
  if (r.nfields < 11) return false;
  row = std::move(r);
  return true;
}

std::vector<DiskRow> parse_diskstats(std::string_view text) {
  std::vector<DiskRow> rows;
  for (std::string_view line : split_lines(text)) {
    DiskRow row;
    if (parse_diskstats_line(line, row)) rows.push_back(std::move(row));
  }
  return rows;
}

bool read_diskstats(const Env& env, std::vector<DiskRow>& rows) {
  std::string text;
  if (!read_file(env, "proc/diskstats", text)) return false;
  rows = parse_diskstats(text);
  return true;
}

bool is_physical_block_entry(std::string_view name, bool has_device_link, uint64_t size_sectors) {
  return has_device_link && size_sectors != 0 && !name.starts_with("sr");
}

bool is_physical_diskstats_name(std::string_view name) {
  for (std::string_view p : {"loop", "ram", "zram", "dm-", "md", "sr", "fd"})
    if (prefix_digits(name, p)) return false;
  // sd/vd/xvd/hd + letters + digits: a partition of a whole disk.
  for (std::string_view p : {"sd", "vd", "xvd", "hd"})
    if (name.starts_with(p) && letters_then_digits(name, p.size())) return false;
  // nvme<d>n<d>p<d> and mmcblk<d>p<d>
  if (name.starts_with("nvme")) {
    size_t i = skip_digits(name, 4);
    if (i > 4 && i < name.size() && name[i] == 'n') {
      size_t j = skip_digits(name, i + 1);
      if (j > i + 1 && j < name.size() && name[j] == 'p') {
        size_t k = skip_digits(name, j + 1);
        if (k > j + 1 && k == name.size()) return false;
      }
    }
  }
  if (name.starts_with("mmcblk")) {
    size_t i = skip_digits(name, 6);
    if (i > 6 && i < name.size() && name[i] == 'p') {
      size_t k = skip_digits(name, i + 1);
      if (k > i + 1 && k == name.size()) return false;
    }
  }
  return true;
}

}  // namespace perfdata::linux_backend
