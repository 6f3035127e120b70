#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include <windows.h>

#include <string>

#include "platform/file_calls.h"

namespace platform {

namespace {

int result(BOOL ok) { return ok ? 0 : static_cast<int>(GetLastError()); }

HANDLE as_handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

int open_file(const char* path, DWORD access, DWORD share, DWORD disposition, intptr_t* handle) {
  HANDLE h = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  *handle = reinterpret_cast<intptr_t>(h);
  return 0;
}

// Delete sharing lets the watchdog's thread remove the file while this one
// still writes it (removed when the process's handles close).
int system_create_new(const char* path, intptr_t* handle) {
  return open_file(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, handle);
}

// Full sharing: a reader must never stop the writer's rename.
int system_open_read(const char* path, intptr_t* handle) {
  return open_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   OPEN_EXISTING, handle);
}

DWORD chunk(size_t size) { return size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size); }

int system_write(intptr_t handle, const char* data, size_t size, size_t* done) {
  DWORD n = 0;
  const int code = result(WriteFile(as_handle(handle), data, chunk(size), &n, nullptr));
  *done = n;
  if (code == 0 && n == 0 && size > 0) return ERROR_WRITE_FAULT;
  return code;
}

int system_read(intptr_t handle, char* data, size_t size, size_t* done) {
  DWORD n = 0;
  const int code = result(ReadFile(as_handle(handle), data, chunk(size), &n, nullptr));
  *done = n;
  return code;
}

int system_sync(intptr_t handle) { return result(FlushFileBuffers(as_handle(handle))); }
int system_close(intptr_t handle) { return result(CloseHandle(as_handle(handle))); }

// A reader that opened the target without delete sharing blocks the
// replacement until it closes: retried for about a second.
int system_rename(const char* from, const char* to) {
  int code = 0;
  for (int attempt = 0; attempt < 40; ++attempt) {
    code = result(MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) break;
    Sleep(25);
  }
  return code;
}

int system_remove(const char* path) { return result(DeleteFileA(path)); }
// A device name (NUL, CON, COM1) or a pipe shows only in the type of an open
// handle; opened with no access, for its type alone.
int system_kind(const char* path, FileKind* kind) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return static_cast<int>(code);
    *kind = FileKind::absent;
    return 0;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return *kind = FileKind::link, 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return *kind = FileKind::directory, 0;
  *kind = FileKind::regular;
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  if (type == FILE_TYPE_CHAR) *kind = FileKind::character_device;
  if (type == FILE_TYPE_PIPE) *kind = FileKind::fifo;
  return 0;
}

// MOVEFILE_WRITE_THROUGH already waits for the directory entry.
void system_sync_directory(const char*) {}
unsigned long system_process_id() { return GetCurrentProcessId(); }

std::string system_error_text(int code) {
  char text[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  while (n > 0 &&
         (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
    --n;
  if (n == 0) return "error " + std::to_string(code);
  return std::string(text, n);
}

}  // namespace

FileCalls file_calls = {
    .create_new = system_create_new,
    .open_read = system_open_read,
    .create_private = system_create_new,
    .write = system_write,
    .read = system_read,
    .sync = system_sync,
    .close = system_close,
    .rename = system_rename,
    .remove = system_remove,
    .kind = system_kind,
    .sync_directory = system_sync_directory,
    .process_id = system_process_id,
    .error_text = system_error_text,
    .separators = "/\\",
    .exists_error = ERROR_FILE_EXISTS,
    .disk_full_error = ERROR_DISK_FULL,
    .interrupted_error = 0,
};

}  // namespace platform
