// Standard handles through kernel32.
#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include "platform/console.h"

#include <windows.h>

namespace platform {
namespace {

HANDLE to_handle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

FileHandle win32_std_output_handle() {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidHandle;
  return reinterpret_cast<FileHandle>(handle);
}

// FILE_TYPE_REMOTE and any later codes pass through unchanged.
FileType win32_file_type(FileHandle handle) {
  return static_cast<FileType>(GetFileType(to_handle(handle)));
}

bool win32_write_file(FileHandle handle, const void* data, uint32_t size, uint32_t* written) {
  DWORD count = 0;
  BOOL ok = WriteFile(to_handle(handle), data, size, &count, nullptr);
  *written = count;
  return ok != FALSE;
}

void win32_close_handle(FileHandle handle) { CloseHandle(to_handle(handle)); }

uint32_t win32_last_error() { return GetLastError(); }

ConsoleCalls live_console_calls = {win32_std_output_handle, win32_file_type, win32_write_file,
                                   win32_close_handle, win32_last_error};

}  // namespace

ConsoleCalls& console_calls() { return live_console_calls; }

// An anonymous pipe does not tell its free space.
bool wait_for_output_room(std::size_t) { return false; }

FileHandle std_error_handle() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidHandle;
  return reinterpret_cast<FileHandle>(handle);
}

bool write_std_error(const void* data, uint32_t size) {
  FileHandle handle = std_error_handle();
  if (handle == kInvalidHandle) return false;
  DWORD count = 0;
  return WriteFile(to_handle(handle), data, size, &count, nullptr) != FALSE;
}

}  // namespace platform
