// The watchdog's states, shared by both backends. One atomic word holds
// whether the timer is armed, whether the output is claimed and whether the
// watchdog has fired, so that the decision "write the line or not" and the
// claim can never both succeed, also when the timer runs on another thread.
#include "platform/watchdog.h"

#include <atomic>
#include <cstring>

#include "platform/console.h"
#include "platform/faults.h"
#include "platform/file.h"
#include "platform/watchdog_backend.h"

namespace platform {
namespace {

enum : int { kArmed = 1, kClaimed = 2, kFired = 4 };
std::atomic<int> state{0};
char watchdog_line[256];
std::size_t watchdog_length = 0;
int watchdog_status = 0;

// Sets the bits of `set` and clears those of `clear` unless the watchdog has
// fired; then the process is ending and this does not return. Returns the
// state before.
int change_state(int set, int clear) {
  int before = state.load();
  for (;;) {
    if ((before & kFired) != 0) watchdog_backend::wait_for_end();
    if (state.compare_exchange_weak(before, (before | set) & ~clear)) return before;
  }
}

// Marks the watchdog fired and returns the state before it; -1 when the
// state holds none of `needed` (the timer disarmed while it was on its way)
// or one of `refused` (a stop request after the claim). Another context
// already ending the process is waited for.
int fire(int needed, int refused) {
  int before = state.load();
  do {
    if ((needed != 0 && (before & needed) == 0) || (before & refused) != 0) return -1;
    if ((before & kFired) != 0) watchdog_backend::wait_for_end();
  } while (!state.compare_exchange_weak(before, kFired));
  return before;
}

// The one way the watchdog ends a run: `line` unless the output was claimed,
// no temporary file left, `status`.
[[noreturn]] void end_run(int before, const char* line, std::size_t length, int status) {
  if ((before & kClaimed) == 0) watchdog_backend::write_without_waiting(line, length);
  discard_pending_replacement();
  exit_process_now(status);
}

char stop_line[256];
std::size_t stop_prefix_length = 0;
int stop_status = 0;

}  // namespace

void watchdog_fired() {
  const int before = fire(kArmed, 0);
  if (before >= 0) end_run(before, watchdog_line, watchdog_length, watchdog_status);
}

// The line is put together only once this context has won the ending: a
// second request (another console event, on a thread of its own) waits.
// Once the output is claimed the result is on its way, bounded by the timer:
// ending then would leave the agent a status with a part of the line or none.
void stop_requested(const char* name) {
  const int before = fire(0, kClaimed);
  if (before < 0) {
    watchdog_backend::let_result_finish();
    return;
  }
  std::size_t length = stop_prefix_length;
  for (; *name != '\0' && length < sizeof stop_line - 1; ++name) stop_line[length++] = *name;
  stop_line[length++] = '\n';
  end_run(before, stop_line, length, stop_status);
}

bool end_on_stop_requests(std::string_view prefix, int exit_status) {
  // Room for the longest event name and the line end.
  stop_prefix_length =
      prefix.size() < sizeof stop_line - 32 ? prefix.size() : sizeof stop_line - 32;
  std::memcpy(stop_line, prefix.data(), stop_prefix_length);
  stop_status = exit_status;
  return watchdog_backend::watch_stop_requests();
}

bool arm_watchdog(uint32_t milliseconds, std::string_view line, int exit_status) {
  // Unarmed first: a timer of the previous arming that expires now finds
  // nothing to do, and the line can be changed safely.
  if ((change_state(0, kArmed) & kArmed) != 0) watchdog_backend::stop_timer();
  watchdog_length = line.size() < sizeof watchdog_line ? line.size() : sizeof watchdog_line - 1;
  std::memcpy(watchdog_line, line.data(), watchdog_length);
  watchdog_status = exit_status;
  change_state(kArmed, 0);
  if (watchdog_backend::start_timer(milliseconds)) return true;
  change_state(0, kArmed);
  return false;
}

bool claim_output() { return (change_state(kClaimed, 0) & kClaimed) == 0; }

void disarm_watchdog() {
  if ((change_state(0, kArmed) & kArmed) != 0) watchdog_backend::stop_timer();
}

void end_with_line(std::string_view line, int exit_status) {
  if (claim_output()) {
    ConsoleCalls& calls = console_calls();
    FileHandle handle = calls.std_output_handle();
    uint32_t written = 0;
    if (handle != kInvalidHandle)
      calls.write_file(handle, line.data(), static_cast<uint32_t>(line.size()), &written);
  }
  disarm_watchdog();
  exit_process_now(exit_status);
}

}  // namespace platform
