#include "app/check_vantric/finish.h"

#include "platform/console.h"
#include "platform/watchdog.h"
#include "plugin/agent_text.h"
#include "failure/failure.h"
#include "runtime/console_output.h"
#include "runtime/failure_report.h"
#include "runtime/program.h"

namespace check_vantric {

// The watchdog stays armed until the last byte is out, so a reader that does
// not read cannot hold the run past -t; the claim keeps it from adding its
// line to a part (it then ends the run with 3 alone).
void finish(const Ending& ending) {
  // Room for the whole text, or at least its first line (the one an agent
  // reads), before the claim: while it is missing the watchdog's line can
  // still take its place, and no line is left without its end.
  if (!platform::wait_for_output_room(ending.text.size()))
    platform::wait_for_output_room(ending.text.find('\n') + 1);
  if (!platform::claim_output()) end_program(3);
  try {
    write_text(ending.text);
    flush_output();
    check_io();
  } catch (Exception* failure) {
    // Standard output itself failed: nothing more can be said there.
    release_failure(failure);
    end_program(3);
  }
  platform::disarm_watchdog();
  end_program(ending.status);
}

Ending unknown(std::string_view why) {
  return {3, plugin::status_line(kService, plugin::State::unknown, why, {}) + "\n"};
}

void arm_timeout(uint32_t seconds) {
  static const bool watching = platform::end_on_stop_requests(
      plugin::status_line(kService, plugin::State::unknown, "ended by", {}) + " ", 3);
  (void)watching;
  platform::arm_watchdog(
      seconds * 1000,
      plugin::status_line(kService, plugin::State::unknown,
                          "timed out after " + std::to_string(seconds) + " s", {}) +
          "\n",
      3);
}

// Every other ending (a failure's report, a runtime error line, a fault) is
// one UNKNOWN line too, built in fixed storage: the heap may be gone.
void end_unknown(const char* text, std::size_t length, int32_t) {
  static char line[kReportCapacity + 64];
  const std::size_t size =
      plugin::status_line_into(kService, plugin::State::unknown, {text, length}, line, sizeof line);
  platform::end_with_line({line, size}, 3);
}

}  // namespace check_vantric
