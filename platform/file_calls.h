// The system calls under platform/file.h, one table per backend (posix/,
// win32/), so that tests inject a full disk or a failing rename without a
// broken machine. Each entry returns 0 or the system's error code (errno,
// GetLastError()). Only the file and state-file services, their backends
// and tests include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// What stands at a path, as far as replacing it goes.
enum class FileKind {
  absent,
  regular,
  link,
  directory,
  character_device,
  block_device,
  fifo,
  socket,
  other
};

struct FileCalls {
  // A new file for writing, failing with `exists_error` when the name is taken.
  int (*create_new)(const char* path, intptr_t* handle);
  int (*open_read)(const char* path, intptr_t* handle);
  // The same as create_new, the file for its owner alone.
  int (*create_private)(const char* path, intptr_t* handle);
  // Some bytes, at least one unless size is 0; *done says how many.
  int (*write)(intptr_t handle, const char* data, size_t size, size_t* done);
  int (*read)(intptr_t handle, char* data, size_t size, size_t* done);  // *done 0 at the end
  int (*sync)(intptr_t handle);
  int (*close)(intptr_t handle);
  int (*rename)(const char* from, const char* to);  // replaces `to`
  int (*remove)(const char* path);                  // async-signal-safe on posix
  int (*kind)(const char* path, FileKind* kind);    // of the path itself, not a link's target
  void (*sync_directory)(const char* directory);    // best effort
  unsigned long (*process_id)();
  std::string (*error_text)(int code);
  const char* separators;  // of directory and name: "/", "/\\"
  int exists_error;        // EEXIST, ERROR_FILE_EXISTS
  int disk_full_error;     // ENOSPC, ERROR_DISK_FULL
  int interrupted_error;   // EINTR (a read to retry); 0 where there is none
};

// The table in use; starts out as the backend's real calls.
extern FileCalls file_calls;

}  // namespace platform
