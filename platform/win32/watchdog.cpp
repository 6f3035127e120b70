#if !defined(_WIN32)
#error "platform/win32 is the Windows backend; CMake picked the wrong folder"
#endif

#include <windows.h>

#include "platform/watchdog_backend.h"

namespace platform::watchdog_backend {

namespace {

// A write into an anonymous pipe whose reader does not read blocks; the
// watcher gives it this long on a thread of its own, then ends regardless.
constexpr DWORD kWriteGraceMs = 200;

DWORD timer_ms = 0;
HANDLE timer_event = nullptr;
HANDLE timer_thread = nullptr;

struct PendingWrite {
  const char* line;
  DWORD length;
} pending_write;

DWORD WINAPI watch(LPVOID) {
  if (WaitForSingleObject(timer_event, timer_ms) != WAIT_TIMEOUT) return 0;
  watchdog_fired();
  return 0;
}

DWORD WINAPI write_line(LPVOID) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (pending_write.length > 0) {
    DWORD written = 0;
    if (!WriteFile(out, pending_write.line, pending_write.length, &written, nullptr) ||
        written == 0)
      break;
    pending_write.line += written;
    pending_write.length -= written;
  }
  return 0;
}

// Runs on a thread the system starts for the event; the handler installed
// last is asked first, so this one comes before the fault handlers'.
BOOL WINAPI on_control(DWORD event) {
  const char* name = nullptr;
  switch (event) {
    case CTRL_C_EVENT:
      name = "Control-C";
      break;
    case CTRL_BREAK_EVENT:
      name = "Control-Break";
      break;
    case CTRL_CLOSE_EVENT:
      name = "the console closing";
      break;
    case CTRL_LOGOFF_EVENT:
      name = "log-off";
      break;
    case CTRL_SHUTDOWN_EVENT:
      name = "shut-down";
      break;
    default:
      return FALSE;
  }
  stop_requested(name);
  return TRUE;
}

}  // namespace

bool watch_stop_requests() { return SetConsoleCtrlHandler(on_control, TRUE) != 0; }

bool start_timer(uint32_t milliseconds) {
  stop_timer();
  timer_ms = milliseconds;
  timer_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (timer_event == nullptr) return false;
  timer_thread = CreateThread(nullptr, 64 * 1024, watch, nullptr, 0, nullptr);
  if (timer_thread != nullptr) return true;
  CloseHandle(timer_event);
  timer_event = nullptr;
  return false;
}

// The watcher is stopped and joined before anything else happens: a thread
// still inside a wait while the process exits makes wine's client end the
// process with a fault now and then.
void stop_timer() {
  if (timer_thread == nullptr) return;
  SetEvent(timer_event);
  WaitForSingleObject(timer_thread, INFINITE);
  CloseHandle(timer_thread);
  CloseHandle(timer_event);
  timer_thread = timer_event = nullptr;
}

void write_without_waiting(const char* line, std::size_t length) {
  pending_write = {line, static_cast<DWORD>(length)};
  HANDLE writer = CreateThread(nullptr, 64 * 1024, write_line, nullptr, 0, nullptr);
  if (writer == nullptr) return;
  WaitForSingleObject(writer, kWriteGraceMs);
}

// The main thread is writing the result and ends the process; the system
// keeps the process alive while this handler has not returned.
void let_result_finish() { wait_for_end(); }

// The watcher is writing the line and ending the process.
void wait_for_end() {
  for (;;) Sleep(INFINITE);
}

}  // namespace platform::watchdog_backend
