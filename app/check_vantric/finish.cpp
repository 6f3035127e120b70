#include "app/check_vantric/finish.h"

#include "platform/watchdog.h"
#include "plugin/output.h"
#include "runtime/console_output.h"
#include "failure/failure.h"
#include "runtime/program.h"

namespace check_vantric {

void finish(int status, const std::string& text) {
  if (!platform::disarm_watchdog()) end_program(3);
  try {
    write_text(text);
    flush_output();
    check_io();
  } catch (Exception* failure) {
    // Standard output itself failed: nothing more can be said there.
    release_failure(failure);
    end_program(3);
  }
  end_program(status);
}

void fail(const std::string& why) {
  finish(3, plugin::status_line(kService, plugin::State::unknown, why, {}) + "\n");
}

void fail_discovery(perfdata::Status status, std::string_view what, std::string_view call,
                    std::string_view subject) {
  if (status == perfdata::NOT_IMPLEMENTED)
    fail("this system does not provide " + std::string(what) + " (" + std::string(call) + ")");
  fail(std::string(subject) + ": " + perfdata::status_words(status));
}

}  // namespace check_vantric
