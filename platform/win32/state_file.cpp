#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include <windows.h>

#include <string>

#include "platform/state_file_calls.h"

namespace platform {

namespace {

HANDLE as_handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

int system_directory(const char* path, DirectoryFacts* facts) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return static_cast<int>(GetLastError());
  facts->directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Who may write is the directory's access list, inherited by default from
  // %ProgramData% (users create files of their own there, as under a sticky
  // bit); the mode bits of posix have no counterpart to read here.
  facts->others_write = false;
  facts->sticky = false;
  return 0;
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction itself instead of
// its target, so that it can be seen and refused.
int system_open(const char* path, bool create, intptr_t* handle) {
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // A directory cannot be opened as a file at all ("Access denied"): say
    // what is there instead.
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? kStateLink : kStateNotRegular;
    return static_cast<int>(code);
  }
  BY_HANDLE_FILE_INFORMATION information;
  int code = 0;
  if (!GetFileInformationByHandle(h, &information))
    code = static_cast<int>(GetLastError());
  else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    code = kStateLink;
  else if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
           GetFileType(h) != FILE_TYPE_DISK)
    code = kStateNotRegular;
  if (code != 0) return CloseHandle(h), code;
  *handle = reinterpret_cast<intptr_t>(h);
  return 0;
}

int system_try_lock(intptr_t handle) {
  OVERLAPPED at = {};
  if (LockFileEx(as_handle(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &at))
    return 0;
  const DWORD code = GetLastError();
  return code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? kStateBusy
                                                                  : static_cast<int>(code);
}

// Closing the handle releases its lock.
void system_close(intptr_t handle) { CloseHandle(as_handle(handle)); }
void system_sleep_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

// The kernel's own record of the boot time, the same for every process of
// one boot (the clock now minus the time since boot would jitter by a tick).
struct TimeOfDay {
  LARGE_INTEGER boot_time;
  LARGE_INTEGER current_time;
  LARGE_INTEGER time_zone_bias;
  ULONG time_zone_id;
  ULONG reserved;
  ULONGLONG boot_time_bias;
  ULONGLONG sleep_time_bias;
};
using QuerySystemInformation = LONG(WINAPI*)(int, void*, ULONG, ULONG*);

int system_boot_identity(std::string* identity) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const auto query = ntdll == nullptr
                         ? nullptr
                         : reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
                               GetProcAddress(ntdll, "NtQuerySystemInformation")));
  if (query == nullptr) return ERROR_PROC_NOT_FOUND;
  TimeOfDay time = {};
  constexpr int kSystemTimeOfDayInformation = 3;
  if (query(kSystemTimeOfDayInformation, &time, sizeof time, nullptr) < 0 ||
      time.boot_time.QuadPart <= 0)
    return ERROR_NOT_SUPPORTED;
  *identity = std::to_string(time.boot_time.QuadPart);
  return 0;
}

std::string system_default_directory() {
  char buffer[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("ProgramData", buffer, sizeof buffer);
  const std::string base = n > 0 && n < sizeof buffer ? std::string(buffer, n) : "C:\\ProgramData";
  return base + "\\vantric";
}

}  // namespace

StateFileCalls state_file_calls = {
    system_directory,    system_open,          system_try_lock,          system_close,
    system_sleep_ms,     system_boot_identity, system_default_directory, '\\',
    ERROR_FILE_NOT_FOUND};

}  // namespace platform
