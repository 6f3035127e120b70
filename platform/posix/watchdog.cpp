#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include "platform/watchdog.h"

#include "platform/file.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {

enum : int { idle, armed, fired, disarmed };
std::atomic<int> watchdog_state{idle};
char watchdog_line[256];
size_t watchdog_length = 0;
int watchdog_status = 0;

void on_alarm(int) {
  int expected = armed;
  if (!watchdog_state.compare_exchange_strong(expected, fired)) return;
  const char* p = watchdog_line;
  size_t left = watchdog_length;
  while (left > 0) {
    ssize_t n = write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  discard_pending_replacement();
  _exit(watchdog_status);
}

}  // namespace

bool arm_watchdog(uint32_t milliseconds, std::string_view line, int exit_status) {
  watchdog_state.store(idle);
  watchdog_length = line.size() < sizeof watchdog_line ? line.size() : sizeof watchdog_line - 1;
  std::memcpy(watchdog_line, line.data(), watchdog_length);
  watchdog_status = exit_status;
  struct sigaction action {};
  action.sa_handler = on_alarm;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGALRM, &action, nullptr) != 0) return false;
  itimerval timer{};
  timer.it_value.tv_sec = milliseconds / 1000;
  timer.it_value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
  if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0) timer.it_value.tv_usec = 1;
  watchdog_state.store(armed);
  if (setitimer(ITIMER_REAL, &timer, nullptr) != 0) {
    watchdog_state.store(idle);
    return false;
  }
  return true;
}

bool disarm_watchdog() {
  int expected = armed;
  if (watchdog_state.compare_exchange_strong(expected, disarmed)) {
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    return true;
  }
  if (expected != fired) return true;
  // The handler runs on this thread, so it has already ended the process;
  // this is only reached if the signal went to another thread.
  for (;;) pause();
}

}  // namespace platform
