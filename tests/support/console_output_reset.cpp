#include "runtime/console_stream.h"
#include "tests/support/test_support.h"

void console_output_reset() { console_stream() = ConsoleStream{}; }

bool console_output_has_pending_bytes() {
  const ConsoleStream& stream = console_stream();
  return stream.mode == ConsoleStream::Mode::output && stream.fill > 0;
}
