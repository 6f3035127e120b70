// How a check_vantric run ends: whole lines on standard output and the exit
// status, after the watchdog is disarmed, so the agent gets this text or the
// time-out line, never both and never a part.
//
//   fail("no counter given (-C and -P, or -p; see --help)")
//   writes "VANTRIC UNKNOWN - no counter given (-C and -P, or -p; see --help)\n", exits 3.
#pragma once

#include <string>
#include <string_view>

#include "perfdata/perfdata.h"

namespace check_vantric {

// The service name that starts every status line.
constexpr std::string_view kService = "VANTRIC";

// Writes `text` and exits with `status`; exits 3 when standard output fails.
[[noreturn]] void finish(int status, const std::string& text);

// The UNKNOWN status line with `why` as its summary, exit status 3.
[[noreturn]] void fail(const std::string& why);

// A failed discovery call: for NOT_IMPLEMENTED "this system does not provide
// <what> (<call>)", else "<subject>: <status words>".
[[noreturn]] void fail_discovery(perfdata::Status status, std::string_view what,
                                 std::string_view call, std::string_view subject);

}  // namespace check_vantric
