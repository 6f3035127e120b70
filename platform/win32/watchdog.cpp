#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include "platform/watchdog.h"

#include "platform/file.h"

#include <windows.h>

#include <cstring>

namespace platform {

namespace {

enum : LONG { idle, armed, fired, disarmed };
volatile LONG watchdog_state = idle;
char watchdog_line[256];
DWORD watchdog_length = 0;
UINT watchdog_status = 0;
DWORD watchdog_ms = 0;
HANDLE watchdog_event = nullptr;
HANDLE watchdog_thread = nullptr;

DWORD WINAPI watch(LPVOID) {
  if (WaitForSingleObject(watchdog_event, watchdog_ms) != WAIT_TIMEOUT) return 0;
  if (InterlockedCompareExchange(&watchdog_state, fired, armed) != armed) return 0;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const char* p = watchdog_line;
  DWORD left = watchdog_length;
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(out, p, left, &written, nullptr) || written == 0) break;
    p += written;
    left -= written;
  }
  discard_pending_replacement();
  ExitProcess(watchdog_status);
}

// The watcher is stopped and joined before anything else happens: a thread
// still inside a wait while the process exits makes wine's client end the
// process with a fault now and then.
void stop_watcher() {
  if (watchdog_thread == nullptr) return;
  SetEvent(watchdog_event);
  WaitForSingleObject(watchdog_thread, INFINITE);
  CloseHandle(watchdog_thread);
  CloseHandle(watchdog_event);
  watchdog_thread = watchdog_event = nullptr;
}

}  // namespace

bool arm_watchdog(uint32_t milliseconds, std::string_view line, int exit_status) {
  if (InterlockedCompareExchange(&watchdog_state, disarmed, armed) == armed) stop_watcher();
  watchdog_length = static_cast<DWORD>(
      line.size() < sizeof watchdog_line ? line.size() : sizeof watchdog_line - 1);
  std::memcpy(watchdog_line, line.data(), watchdog_length);
  watchdog_status = static_cast<UINT>(exit_status);
  watchdog_ms = milliseconds;
  watchdog_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (watchdog_event == nullptr) return false;
  InterlockedExchange(&watchdog_state, armed);
  watchdog_thread = CreateThread(nullptr, 64 * 1024, watch, nullptr, 0, nullptr);
  if (watchdog_thread == nullptr) {
    InterlockedExchange(&watchdog_state, idle);
    CloseHandle(watchdog_event);
    watchdog_event = nullptr;
    return false;
  }
  return true;
}

bool disarm_watchdog() {
  LONG before = InterlockedCompareExchange(&watchdog_state, disarmed, armed);
  if (before == armed) {
    stop_watcher();
    return true;
  }
  if (before != fired) return true;
  // The watcher is writing the line and ending the process.
  for (;;) Sleep(INFINITE);
}

}  // namespace platform
