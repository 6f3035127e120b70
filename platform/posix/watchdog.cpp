#if defined(_WIN32)
#error "platform/posix is the posix backend; CMake picked the wrong folder"
#endif

#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/watchdog_backend.h"

namespace platform::watchdog_backend {

namespace {

struct StopSignal {
  int number;
  const char* name;
};
constexpr StopSignal kStopSignals[] = {
    {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}, {SIGXCPU, "SIGXCPU"}};

// Runs on the thread it interrupts, which cannot touch the state meanwhile.
void on_alarm(int) { watchdog_fired(); }

void on_stop(int number) {
  for (const StopSignal& stop : kStopSignals)
    if (stop.number == number) stop_requested(stop.name);
}

// Each ending holds the others back: one that interrupted another would find
// the watchdog fired and wait for an end that never comes.
bool handle(int number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGALRM);
  for (const StopSignal& stop : kStopSignals) sigaddset(&action.sa_mask, stop.number);
  return sigaction(number, &action, nullptr) == 0;
}

}  // namespace

bool watch_stop_requests() {
  bool all = true;
  for (const StopSignal& stop : kStopSignals) all = handle(stop.number, on_stop) && all;
  return all;
}

bool start_timer(uint32_t milliseconds) {
  if (!handle(SIGALRM, on_alarm)) return false;
  itimerval timer{};
  timer.it_value.tv_sec = milliseconds / 1000;
  timer.it_value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
  if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0) timer.it_value.tv_usec = 1;
  return setitimer(ITIMER_REAL, &timer, nullptr) == 0;
}

void stop_timer() {
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
}

// Each write only when poll says it goes through at once: a blocking pipe
// that is full would otherwise hold the process past its deadline. A line
// within the pipe's atomic size goes out whole or not at all.
void write_without_waiting(const char* line, std::size_t length) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  while (length > 0) {
    pollfd entry = {STDOUT_FILENO, POLLOUT, 0};
    int ready = poll(&entry, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (entry.revents & POLLOUT) == 0) return;
    ssize_t n = write(STDOUT_FILENO, line, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    line += n;
    length -= static_cast<std::size_t>(n);
  }
}

// The timer's handler runs on this thread, so it has already ended the
// process; this is only reached if the signal went to another thread.
void wait_for_end() {
  for (;;) pause();
}

// The handler returns into the write it interrupted, which goes on after
// EINTR; the process then ends with the result's status.
void let_result_finish() {}

}  // namespace platform::watchdog_backend
