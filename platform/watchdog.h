// A one-shot watchdog that ends a run which takes too long, with a line the
// caller prepared.
//
//   platform::arm_watchdog(10000, "VANTRIC UNKNOWN - timed out after 10 s\n", 3);
//   ... sample ...
//   if (platform::disarm_watchdog()) write the result;
//
// When the time runs out first, the watchdog writes the line to standard
// output with one raw write (no buffered stream involved), removes the
// temporary file of a replace_file in progress (platform/file.h) and ends
// the process at once with the status, from whatever the program was doing.
// Exactly one side wins: after disarm_watchdog returned true the line is
// never written; after it returned false the process is already ending, and
// the caller must write nothing. Posix: SIGALRM from setitimer, handled with
// write() and _exit(). Windows: a thread waiting on an event, then WriteFile
// and ExitProcess. The line is cut at 255 bytes. One watchdog per process;
// arming again before it fires restarts it with the new line.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// False when the system refused the timer (the run then has no bound).
bool arm_watchdog(uint32_t milliseconds, std::string_view line, int exit_status);

// True when the watchdog had not fired (or was never armed): it never will.
// False when it has fired; the process is ending and this call does not
// return until it has.
bool disarm_watchdog();

}  // namespace platform
