// The system calls of the Linux counter layer beyond whole files (those go
// through platform/file_calls.h), in one table that tests replace to inject
// a clock, a node name, a full or stuck filesystem and a directory that
// cannot be listed, without a broken machine. Paths are real paths, already
// joined with the environment's root. Each entry that can fail returns 0 or
// the errno of the failure. Only the layer and its tests include this.
//
// Example: system_calls.statvfs("/tmp/t/data", &st) == 0 fills st from
// statvfs(3); a test's entry answers from its own table of mounts.
#pragma once

#ifndef __linux__
#error "perfdata/linux is the Linux backend; CMake picked the wrong folder"
#endif

#include <cstdint>
#include <string>

namespace perfdata::linux_backend {

// What statvfs(3) tells of a filesystem's size, in units of frsize.
struct FsStat {
  uint64_t frsize = 0, blocks = 0, bfree = 0, bavail = 0;
};

struct SystemCalls {
  double (*monotonic)();       // seconds on CLOCK_MONOTONIC
  std::string (*node_name)();  // the UTS node name (platform::host_name)
  int (*statvfs)(const char* path, FsStat* out);
  // opendir/readdir/closedir: *name is the next entry ("." and ".."
  // included), valid until the next call, and null at the end.
  int (*open_dir)(const char* path, intptr_t* handle);
  int (*read_dir)(intptr_t handle, const char** name);
  void (*close_dir)(intptr_t handle);
  int (*lstat)(const char* path);  // whether something stands at path, a link not followed
  // realpath(3): every link resolved; `out` untouched on failure.
  int (*real_path)(const char* path, std::string* out);
};

// The table in use; starts out as the real calls.
extern SystemCalls system_calls;

}  // namespace perfdata::linux_backend
