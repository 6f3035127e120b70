// How a check_vantric run ends: whole lines on standard output and the exit
// status, written under the watchdog, so the agent gets this text or the
// time-out line, never both and never a part. The stages hand their Ending
// back to main, which gives it to finish(), the one writer of a result; a
// failure report, a runtime error line or a fault ends through end_unknown.
//
//   finish(unknown("no counter given (-C and -P, or -p; see --help)"))
//   writes "VANTRIC UNKNOWN - no counter given (-C and -P, or -p; see --help)\n", exits 3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace check_vantric {

// The service name that starts every status line.
constexpr std::string_view kService = "VANTRIC";

// What a run writes last and the exit status it ends with.
struct Ending {
  int status = 3;
  std::string text;  // whole lines
};

// The UNKNOWN status line with `why` as its summary, exit status 3.
Ending unknown(std::string_view why);

// Writes `ending.text` and exits with `ending.status`; exits 3 when standard
// output fails.
[[noreturn]] void finish(const Ending& ending);

// Arms the watchdog for `seconds` with the time-out status line (status 3);
// the first call also makes a request to stop (SIGTERM) end the run so:
// "VANTRIC UNKNOWN - ended by SIGTERM".
void arm_timeout(uint32_t seconds);

// The program's ending for a failure report, a runtime error line or a
// fault: `text` as the summary of one UNKNOWN line, exit status 3. Builds
// the line without allocating.
[[noreturn]] void end_unknown(const char* text, std::size_t length, int32_t status);

}  // namespace check_vantric
