// The standard handles under the console stream and the failure report.
//
// The stream reaches the system only through `console_calls()`, a table of
// function pointers that starts out as this platform's real calls; tests
// assign members to capture output or inject failures, and restore them.
//
//   ConsoleCalls& calls = console_calls();
//   FileHandle h = calls.std_output_handle();           // kInvalidHandle: none
//   if (calls.file_type(h) == FileType::character) ...  // flush per line
//   uint32_t n;
//   if (!calls.write_file(h, "ok\r\n", 4, &n)) error = calls.last_error();
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kInvalidHandle = -1;

// The system's file type codes (other values, such as a remote file, may
// occur and count as neither character device nor unknown).
enum class FileType : uint32_t { unknown = 0, disk = 1, character = 2, pipe = 3 };

struct ConsoleCalls {
  // The process's standard output handle as it is now; kInvalidHandle when
  // there is none. May return another unusable value (a null handle), which
  // file_type then reports as unknown.
  FileHandle (*std_output_handle)();
  FileType (*file_type)(FileHandle);
  // Writes `size` bytes; false on failure, with the reason in last_error().
  // `written` receives the count the system reports.
  bool (*write_file)(FileHandle, const void* data, uint32_t size, uint32_t* written);
  void (*close_handle)(FileHandle);
  // The error code of the last failed call above (the thread's last error).
  uint32_t (*last_error)();
};

// The table in use. Tests assign members and restore them afterwards.
ConsoleCalls& console_calls();

// Waits until standard output takes `size` bytes in one go without waiting
// for its reader, where the system tells how much it takes: a pipe on Linux
// (its capacity less the bytes still unread). So a line that the reader never
// makes room for is not written at all rather than in part; the watchdog
// bounds the wait. True when the room is there; false at once when the
// system does not tell (a file, a terminal, Windows) or `size` exceeds the
// pipe's capacity.
//   wait_for_output_room(5000)  // 4096 bytes free: waits until the reader reads
bool wait_for_output_room(std::size_t size);

// The standard error handle (kInvalidHandle when there is none) and a write
// of the whole of `data` to it; false when it failed. Used by the failure
// report, which ignores the result.
FileHandle std_error_handle();
bool write_std_error(const void* data, uint32_t size);

}  // namespace platform
