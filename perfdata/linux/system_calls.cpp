#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include "perfdata/linux/system_calls.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>

#include <cerrno>

#include "platform/computer_name.h"

namespace perfdata::linux_backend {

namespace {

double monotonic_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Read once: every add compares its machine part with it, and a check over
// every process adds thousands of counters.
std::string node_name() {
  static const std::string name = platform::host_name();
  return name;
}

int real_statvfs(const char* path, FsStat* out) {
  struct statvfs st {};
  if (::statvfs(path, &st) != 0) return errno;
  out->frsize = st.f_frsize;
  out->blocks = st.f_blocks;
  out->bfree = st.f_bfree;
  out->bavail = st.f_bavail;
  return 0;
}

int open_dir(const char* path, intptr_t* handle) {
  DIR* dir = ::opendir(path);
  if (dir == nullptr) return errno;
  *handle = reinterpret_cast<intptr_t>(dir);
  return 0;
}

int read_dir(intptr_t handle, const char** name) {
  // readdir tells an error from the end only by errno.
  errno = 0;
  const dirent* ent = ::readdir(reinterpret_cast<DIR*>(handle));
  *name = ent != nullptr ? ent->d_name : nullptr;
  return ent != nullptr ? 0 : errno;
}

void close_dir(intptr_t handle) { ::closedir(reinterpret_cast<DIR*>(handle)); }

int real_lstat(const char* path) {
  struct stat st {};
  return ::lstat(path, &st) == 0 ? 0 : errno;
}

int real_path(const char* path, std::string* out) {
  char buf[PATH_MAX];
  if (::realpath(path, buf) == nullptr) return errno;
  *out = buf;
  return 0;
}

}  // namespace

SystemCalls system_calls = {monotonic_seconds, node_name, real_statvfs, open_dir,
                            read_dir,          close_dir, real_lstat,   real_path};

}  // namespace perfdata::linux_backend
