#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/env.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "perfdata/linux/text.h"
#include "platform/computer_name.h"

namespace perfdata::linux_backend {

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

// The kernel's word size by its machine name: a 32-bit program on a 64-bit
// kernel still reads 64-bit counters. 64-bit machine names carry "64"
// (x86_64, aarch64, ppc64le, riscv64...), except s390x and alpha.
int kernel_ulong_bits() {
  utsname u{};
  if (uname(&u) != 0) return static_cast<int>(8 * sizeof(long));
  const std::string_view m = u.machine;
  return m.find("64") != std::string_view::npos || m == "s390x" || m == "alpha" ? 64 : 32;
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
  env.ulong_bits = kernel_ulong_bits();
  // Read once: every add compares its machine part with it, and a check
  // over every process adds thousands of counters.
  env.nodename = [name = platform::host_name()] { return name; };
  return env;
}

std::string source(const Env& env, std::string_view rel) {
  std::string path = env.root.empty() ? std::string("/") : env.root;
  while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
  if (path.back() != '/') path.push_back('/');
  path.append(rel);
  return path;
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

const std::string& note_open(const Env& env, const std::string& path) {
  if (env.opened) env.opened(path);
  return path;
}

bool read_file(const Env& env, std::string_view rel, std::string& out) {
  return read_path(note_open(env, source(env, rel)), out);
}

bool read_lines(const Env& env, std::string_view rel,
                const std::function<void(std::string_view line)>& line) {
  int fd = ::open(note_open(env, source(env, rel)).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // Only the line being cut is carried over between reads.
  std::string carry;
  char buf[16384];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    std::string_view chunk(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = chunk.find('\n')) != std::string_view::npos;) {
      if (carry.empty()) {
        line(chunk.substr(0, nl));
      } else {
        carry.append(chunk.substr(0, nl));
        line(carry);
        carry.clear();
      }
      chunk.remove_prefix(nl + 1);
    }
    carry.append(chunk);
  }
  ::close(fd);
  if (ok && !carry.empty()) line(carry);
  return ok;
}

bool list_dir(const Env& env, std::string_view rel, std::vector<std::string>& out) {
  out.clear();
  DIR* dir = ::opendir(note_open(env, source(env, rel)).c_str());
  if (dir == nullptr) return false;
  while (dirent* ent = ::readdir(dir)) {
    std::string_view n = ent->d_name;
    if (n == "." || n == "..") continue;
    out.emplace_back(n);
  }
  ::closedir(dir);
  return true;
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

}  // namespace perfdata::linux_backend
