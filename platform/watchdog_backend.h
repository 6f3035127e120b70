// What the shared part of the watchdog (platform/watchdog.cpp) needs from a
// backend: the timer, a write that never waits, and a wait for the end.
// Internal to the platform library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::watchdog_backend {

// Starts the one timer (a running one is stopped first); when it expires,
// watchdog_fired() runs on whatever context the backend has. False when the
// system refused.
bool start_timer(uint32_t milliseconds);
// Stops the timer; afterwards watchdog_fired() is not called for it.
void stop_timer();
// Writes `line` to standard output without waiting for a reader, without
// SIGPIPE; the result is ignored. Safe on the timer's context.
void write_without_waiting(const char* line, std::size_t length);
// Waits until another context has ended the process.
[[noreturn]] void wait_for_end();
// A stop request came after the claim: returns to the interrupted writer
// (posix, where the request runs on its thread) or waits for its end.
void let_result_finish();
// From now on a request to stop the process calls stop_requested() with the
// request's name ("SIGTERM", "Control-C"). False when the system refused.
bool watch_stop_requests();

}  // namespace platform::watchdog_backend

namespace platform {
// The shared part's reaction to an expired timer (defined in watchdog.cpp):
// ends the process, or returns when the watchdog was disarmed meanwhile.
void watchdog_fired();
// The shared part's reaction to a request to stop: ends the process, or,
// when the result is being written, lets it finish (let_result_finish).
void stop_requested(const char* name);
}  // namespace platform
