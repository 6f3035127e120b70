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
#include <cstdint>
#include <cstring>

#include "perfdata/linux/text.h"
#include "platform/computer_name.h"
#include "platform/file.h"

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
  const int error = platform::read_file_code(path, SIZE_MAX - 1, out);
  errno = error;
  return error == 0;
}

const std::string& note_open(const Env& env, const std::string& path) {
  if (env.opened) env.opened(path);
  return path;
}

namespace {

// The files of one process, which only Process and System read.
bool per_process(std::string_view rel) {
  while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
  return rel.size() > 5 && rel.substr(0, 5) == "proc/" && rel[5] >= '0' && rel[5] <= '9';
}

// A read of `rel` answered from `kept` when the collection has read it
// already (errno as the first read left it).
template <class T>
bool through_cache(const Env& env, std::string_view rel,
                   std::unordered_map<std::string, SourceCache::Kept<T>>* kept,
                   bool (*read)(const std::string& path, T& out), T& out) {
  if (kept == nullptr || (!env.cache->processes && per_process(rel)))
    return read(note_open(env, source(env, rel)), out);
  auto [it, added] = kept->try_emplace(std::string(rel));
  if (added) {
    read(note_open(env, source(env, rel)), it->second.value);
    it->second.error = errno;
  }
  out = it->second.value;
  errno = it->second.error;
  return it->second.error == 0;
}

}  // namespace

bool read_file(const Env& env, std::string_view rel, std::string& out) {
  return through_cache(env, rel, env.cache ? &env.cache->files : nullptr, read_path, out);
}

bool read_lines(const Env& env, std::string_view rel,
                const std::function<void(std::string_view line)>& line) {
  // Only Processor reads a file line by line (/proc/interrupts, megabytes
  // on a large machine): not kept in the cache, so it is held once.
  std::string text;
  if (!read_path(note_open(env, source(env, rel)), text)) return false;
  for (std::string_view rest = text; !rest.empty();) {
    const size_t nl = rest.find('\n');
    line(rest.substr(0, nl));
    rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
  }
  return true;
}

bool is_absent(int error) { return error == ENOENT || error == ENOTDIR || error == ESRCH; }

std::string read_problem(std::string_view rel, int error) {
  if (error == 0 || is_absent(error)) return "";
  while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
  return "cannot read /" + std::string(rel) + ": " + std::strerror(error);
}

namespace {

bool read_dir(const std::string& path, std::vector<std::string>& out) {
  out.clear();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  // readdir tells an error from the end only by errno.
  errno = 0;
  while (dirent* ent = ::readdir(dir)) {
    std::string_view n = ent->d_name;
    if (n != "." && n != "..") out.emplace_back(n);
    errno = 0;
  }
  const int error = errno;
  ::closedir(dir);
  errno = error;
  return error == 0;
}

}  // namespace

bool list_dir(const Env& env, std::string_view rel, std::vector<std::string>& out) {
  return through_cache(env, rel, env.cache ? &env.cache->dirs : nullptr, read_dir, out);
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
