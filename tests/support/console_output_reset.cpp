#include "tests/support/test_support.h"

#include "textsvc/console_output_state.h"

void console_output_reset() {
  console_output.mode = ConsoleOutput::Mode::closed;
  console_output.handle = platform::kInvalidHandle;
  console_output.flush_at_line_end = false;
  console_output.fill = 0;
  pending_io_result = 0;
}

bool console_output_has_pending_bytes() {
  return console_output.mode == ConsoleOutput::Mode::output && console_output.fill > 0;
}
