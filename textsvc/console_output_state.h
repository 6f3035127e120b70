// The state behind ConsoleOutput, shared by its implementation and by the
// test-support library, which puts it back to the start-up state between
// tests. Nothing else includes this header.
#pragma once

#include <cstdint>

#include "platform/console.h"

constexpr int32_t kConsoleBufferSize = 128;

struct ConsoleOutput {
  enum class Mode : uint8_t { closed, output };
  Mode mode = Mode::closed;
  platform::FileHandle handle = platform::kInvalidHandle;
  char line_end[2] = {};
  bool flush_at_line_end = false;
  int32_t fill = 0;
  char buffer[kConsoleBufferSize];
};

extern ConsoleOutput console_output;
// The I/O error number of the last failed stream operation; 0 when none.
extern int32_t pending_io_result;
