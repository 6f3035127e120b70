// The system calls under platform/state_file.h, one table per backend
// (posix/, win32/), so that tests can stand in for a lock another run holds
// or a boot identity. Each entry returns 0, the system's error code (errno,
// GetLastError()) or one of the negative codes below. Reading a handle and
// the text of an error code are the file service's (platform/file_calls.h).
// Only the state-file service, its backends and tests include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

constexpr int kStateLink = -1;          // a symbolic link or reparse point: not followed
constexpr int kStateNotRegular = -2;    // a directory, device, FIFO... at the path
constexpr int kStateForeignOwner = -3;  // the file belongs to another user
constexpr int kStateBusy = -4;          // the lock is held elsewhere

struct DirectoryFacts {
  bool directory = false;
  bool others_write = false;  // writable by users other than owner and group
  bool sticky = false;        // only an entry's owner may remove or rename it
};

struct StateFileCalls {
  int (*directory)(const char* path, DirectoryFacts* facts);
  // Opens `path` without following a link, creating it (0600) when
  // `create`; absent and not `create`: not_found_error.
  int (*open)(const char* path, bool create, intptr_t* handle);
  int (*try_lock)(intptr_t handle);  // exclusive, without waiting: 0 or kStateBusy
  void (*close)(intptr_t handle);    // releases its lock
  void (*sleep_ms)(int ms);
  int (*boot_identity)(std::string* identity);
  std::string (*default_directory)();
  char separator;
  int not_found_error;
};

// The table in use; starts out as the backend's real calls.
extern StateFileCalls state_file_calls;

}  // namespace platform
