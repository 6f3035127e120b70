// A one-shot watchdog that bounds a whole run, the writing of its result
// included, and the gate through which the run's one result reaches
// standard output.
//
//   platform::arm_watchdog(10000, "VANTRIC UNKNOWN - timed out after 10 s\n", 3);
//   ... sample ...
//   platform::claim_output();    // from here on the watchdog writes nothing
//   ... write the result ...     // a reader that never reads: ended at the deadline
//   platform::disarm_watchdog();
//
// When the time runs out before the output was claimed, the watchdog writes
// its line to standard output and ends the process at once with its status,
// from whatever the program was doing. The line goes out with raw writes that
// never wait: into a full pipe nothing (or, for a line of more than the
// pipe's atomic size, a part) is written, and the process ends all the same.
// Either way it first removes the temporary file of a replace_file in
// progress (platform/file.h), so a time-out never leaves one behind.
// After the claim the watchdog ends the process with the status and writes
// nothing. So the agent gets the whole result, or the time-out line alone, or
// (a result cut off at the deadline) the status alone; never two lines, never
// a part followed by the line. A reader that has gone away does not kill the
// process with SIGPIPE: the status stands. The line is cut at 255 bytes. One
// watchdog per process; arming again before it fires restarts it with the new
// line and keeps a claim.
//
// Posix: SIGALRM from setitimer, handled with poll(), write() and _exit().
// Windows: a thread waiting on an event, then WriteFile on a thread of its
// own, waited for at most 200 ms (an anonymous pipe's writes block), and
// TerminateProcess.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// False when the system refused the timer (the run then has no bound).
bool arm_watchdog(uint32_t milliseconds, std::string_view line, int exit_status);

// Claims standard output for the result, armed or not: true for the first
// claim, false when it was claimed before. When the watchdog has fired, the
// process is ending and the call does not return.
bool claim_output();

// Stops the watchdog: it will not fire any more (the claim stays). When it
// has fired, the process is ending and the call does not return.
void disarm_watchdog();

// Ends the run as the time-out does when the process is asked to stop:
// posix SIGTERM (systemctl stop), SIGINT, SIGHUP and SIGXCPU (a CPU time
// limit reached); Windows Control-C, Control-Break and the console's closing,
// log-off or shut-down. The line is `prefix` and the request's name, written
// only when the output was not claimed; no temporary file of a replace_file
// is left; the process ends with `exit_status`. A request after the claim
// lets the result be written whole (the watchdog still bounds it) and the
// run ends with the result's status: the agent never gets a status without
// its line. SIGKILL (and on Windows
// TerminateProcess) ends the process with none of this. False when the
// system refused.
//   end_on_stop_requests("VANTRIC UNKNOWN - ended by ", 3);
//   kill -TERM <pid>  ->  "VANTRIC UNKNOWN - ended by SIGTERM\n", status 3
bool end_on_stop_requests(std::string_view prefix, int exit_status);

// Ends the process with `exit_status` and `line` as the run's one line: the
// line is written whole (waiting for a full pipe as long as the watchdog
// lets it; unarmed, as long as the reader takes) when claim_output succeeds,
// nothing otherwise. No allocation: usable in the fault handler.
//   end_with_line("VANTRIC UNKNOWN - Out of memory\n", 3)
[[noreturn]] void end_with_line(std::string_view line, int exit_status);

}  // namespace platform
