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

}  // namespace

void watchdog_fired() {
  int before = state.load();
  do {
    // Disarmed (or already fired) while the timer was on its way.
    if ((before & kArmed) == 0) return;
  } while (!state.compare_exchange_weak(before, kFired));
  if ((before & kClaimed) == 0)
    watchdog_backend::write_without_waiting(watchdog_line, watchdog_length);
  discard_pending_replacement();
  exit_process_now(watchdog_status);
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
