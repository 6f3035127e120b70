// The state behind ConsoleOutput, as one table: console_output.cpp works
// only on console_stream(), and tests put it back to the start-up state
// between cases (`console_stream() = ConsoleStream{}`), as they replace the
// platform's console_calls(). Internal to runtime/: only console_output.cpp
// and the test-support library include this.
#pragma once

#include <cstdint>

#include "platform/console.h"

constexpr int32_t kConsoleBufferSize = 128;

struct ConsoleStream {
  enum class Mode : uint8_t { closed, output };
  Mode mode = Mode::closed;
  platform::FileHandle handle = platform::kInvalidHandle;
  char line_end[2] = {};
  bool flush_at_line_end = false;
  int32_t fill = 0;
  // The I/O error number of the last failed stream operation; 0 when none.
  int32_t pending_io_result = 0;
  char buffer[kConsoleBufferSize];
};

// The stream in use; starts out closed, empty, with nothing pending.
ConsoleStream& console_stream();
