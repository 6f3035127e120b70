// The catalogue's registry and the helpers the objects share.
#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "platform/posix/perf/catalogue.h"

namespace linperf {

namespace {

double monotonic_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int real_statvfs(const std::string& path, FsStat& out) {
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return -1;
  out.frsize = st.f_frsize;
  out.blocks = st.f_blocks;
  out.bfree = st.f_bfree;
  out.bavail = st.f_bavail;
  return 0;
}

}  // namespace

Env default_env() {
  Env env;
  env.root = "/";
  env.monotonic = monotonic_seconds;
  long hz = sysconf(_SC_CLK_TCK);
  long page = sysconf(_SC_PAGESIZE);
  if (hz > 0) env.clk_tck = hz;
  if (page > 0) env.page_size = page;
  env.statvfs = real_statvfs;
  return env;
}

std::string source(const Env& env, std::string_view rel) {
  std::string path = env.root.empty() ? std::string("/") : env.root;
  while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
  if (path.back() != '/') path.push_back('/');
  path.append(rel);
  return path;
}

std::span<const ObjectDef* const> all_objects() {
  static const ObjectDef* const objects[] = {
      &processor_object(),    &memory_object(),       &paging_file_object(),
      &system_object(),       &logical_disk_object(), &physical_disk_object(),
      &network_interface_object(), &process_object(), &tcpv4_object(),
  };
  return objects;
}

const ObjectDef* find_object(std::string_view name) {
  for (const ObjectDef* obj : all_objects()) {
    if (iequals(obj->name, name)) return obj;
  }
  return nullptr;
}

const CounterDef* find_counter(const ObjectDef& obj, std::string_view name) {
  for (const CounterDef& row : obj.counters) {
    if (iequals(row.name, name)) return &row;
  }
  return nullptr;
}

bool read_path(const std::string& path, std::string& out) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // /proc files report size 0, so read until end of file rather than trusting
  // st_size; a partial read followed by an error is a failure, not a short file.
  char buf[8192];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    ok = false;
    break;
  }
  ::close(fd);
  if (!ok) out.clear();
  return ok;
}

bool read_file(const Env& env, std::string_view rel, std::string& out) {
  return read_path(source(env, rel), out);
}

bool list_dir(const Env& env, std::string_view rel, std::vector<std::string>& out) {
  out.clear();
  DIR* dir = ::opendir(source(env, rel).c_str());
  if (dir == nullptr) return false;
  while (dirent* ent = ::readdir(dir)) {
    std::string_view n = ent->d_name;
    if (n == "." || n == "..") continue;
    out.emplace_back(n);
  }
  ::closedir(dir);
  return true;
}

std::optional<uint64_t> delta(uint64_t prev, uint64_t cur) {
  if (cur >= prev) return cur - prev;
  if (prev <= 0xFFFFFFFFull) {
    uint64_t d = cur + 0x100000000ull - prev;
    if (d < 0x80000000ull) return d;
  }
  return std::nullopt;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

std::string folded(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = fold(c);
  return r;
}

std::string mangle(std::string_view raw) {
  std::string r(raw);
  for (char& c : r) {
    switch (c) {
      case '(': c = '['; break;
      case ')': c = ']'; break;
      case '#':
      case '\\':
      case '/': c = '_'; break;
      default: break;
    }
  }
  return r;
}

std::optional<size_t> find_instance(const ObjectDef& obj, const std::vector<Instance>& list,
                                    std::string_view name, uint32_t index) {
  if (obj.strip_trailing_slash && name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  // A name given exactly, without an index, is that instance: mount points
  // and interface names differ by case alone on Linux.
  if (index == 0) {
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].name == name) return i;
    }
  }
  // Otherwise duplicates form one group ignoring case; '#k' picks the k-th
  // member in the order enumerate() gave, which is the order the display
  // names carry.
  std::vector<size_t> group;
  for (size_t i = 0; i < list.size(); ++i) {
    if (iequals(list[i].name, name)) group.push_back(i);
  }
  const size_t cut = obj.truncated_name_len;
  if (group.empty() && cut > 0 && name.size() > cut) {
    std::string_view head = name.substr(0, cut);
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].name.size() == cut && iequals(list[i].name, head)) group.push_back(i);
    }
  }
  if (index >= group.size()) return std::nullopt;
  return group[index];
}

double cap_percent(double v) {
  if (v < 0.0) return 0.0;
  if (v > 100.0) return 100.0;
  return v;
}

namespace {
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
}  // namespace

std::vector<std::string_view> split_ws(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_space(s[i])) ++i;
    size_t j = i;
    while (j < s.size() && !is_space(s[j])) ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

std::vector<std::string_view> split_lines(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = s.find('\n', i);
    if (j == std::string_view::npos) j = s.size();
    out.push_back(s.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

bool parse_u64(std::string_view s, uint64_t& out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

bool parse_i64(std::string_view s, int64_t& out) {
  bool neg = !s.empty() && s.front() == '-';
  if (neg) s.remove_prefix(1);
  uint64_t m = 0;
  if (!parse_u64(s, m)) return false;
  if (neg) {
    if (m > 0x8000000000000000ull) return false;
    out = m == 0x8000000000000000ull ? INT64_MIN : -static_cast<int64_t>(m);
  } else {
    if (m > static_cast<uint64_t>(INT64_MAX)) return false;
    out = static_cast<int64_t>(m);
  }
  return true;
}

std::string unescape_octal(std::string_view s) {
  auto oct = [](char c) { return c >= '0' && c <= '7'; };
  std::string r;
  r.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && oct(s[i + 1]) && oct(s[i + 2]) && oct(s[i + 3])) {
      int v = (s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0');
      if (v < 256) {
        r.push_back(static_cast<char>(v));
        i += 3;
        continue;
      }
    }
    r.push_back(s[i]);
  }
  return r;
}

bool field_value(std::string_view text, std::string_view key, uint64_t& out) {
  for (std::string_view line : split_lines(text)) {
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') {
      continue;
    }
    std::vector<std::string_view> tok = split_ws(line.substr(key.size() + 1));
    return !tok.empty() && parse_u64(tok[0], out);
  }
  return false;
}

// The first field of /proc/uptime, "12345.67": whole seconds and a
// fraction, read without the C library so the number locale cannot change
// what a '.' means.
bool read_uptime(const Env& env, std::string& buf, double& seconds) {
  if (!read_file(env, "proc/uptime", buf)) return false;
  std::vector<std::string_view> tok = split_ws(std::string_view(buf).substr(0, buf.find('\n')));
  if (tok.empty()) return false;
  std::string_view t = tok[0];
  size_t dot = t.find('.');
  uint64_t whole = 0, frac = 0;
  if (!parse_u64(t.substr(0, dot), whole)) return false;
  double s = static_cast<double>(whole);
  if (dot != std::string_view::npos) {
    std::string_view f = t.substr(dot + 1);
    if (!parse_u64(f, frac) || f.size() > 9) return false;
    s += static_cast<double>(frac) / std::pow(10.0, static_cast<double>(f.size()));
  }
  seconds = s;
  return true;
}

}  // namespace linperf
