#include "textsvc/console_output.h"

#include <cstring>

#include "platform/console.h"
#include "textsvc/failure.h"
#include "textsvc/format.h"

thread_local int32_t pending_io_result = 0;

namespace {

constexpr int32_t kBufferSize = 128;
// Reported for every write while the standard output cannot be opened,
// whatever the platform said during the attempt.
constexpr int32_t kNoStandardOutput = 105;

struct ConsoleOutput {
  enum class Mode : uint8_t { closed, output };
  Mode mode = Mode::closed;
  platform::FileHandle handle = platform::kInvalidHandle;
  char line_end[2] = {};
  bool flush_at_line_end = false;
  int32_t fill = 0;
  char buffer[kBufferSize];
};

ConsoleOutput console_output;

void store_failure(int32_t number) {
  if (number != 0) pending_io_result = number;
}

// Binds to the standard output handle of this moment. A failed open leaves
// the stream closed so that the next write tries again.
bool open_output() {
  ConsoleOutput& s = console_output;
  if (s.mode == ConsoleOutput::Mode::output) return true;
  s.line_end[0] = '\r';
  s.line_end[1] = '\n';
  s.mode = ConsoleOutput::Mode::output;
  s.fill = 0;
  s.flush_at_line_end = false;

  platform::ConsoleCalls& calls = platform::console_calls();
  s.handle = calls.std_output_handle();
  bool failed = s.handle == platform::kInvalidHandle;
  if (!failed) {
    platform::FileType type = calls.file_type(s.handle);
    if (type == platform::FileType::unknown) {
      calls.close_handle(s.handle);
      failed = true;
    } else if (type == platform::FileType::character) {
      s.flush_at_line_end = true;
    }
  }
  if (failed) {
    s.mode = ConsoleOutput::Mode::closed;
    pending_io_result = kNoStandardOutput;
    return false;
  }
  return true;
}

// The stream's only platform write. The buffer is emptied whether or not
// the write succeeded, so a failed block is never sent a second time.
// Returns 0 or the platform's error code.
int32_t write_out() {
  ConsoleOutput& s = console_output;
  if (s.fill == 0) return 0;
  platform::ConsoleCalls& calls = platform::console_calls();
  uint32_t written = 0;
  bool ok = calls.write_file(s.handle, s.buffer, static_cast<uint32_t>(s.fill), &written);
  int32_t error = ok ? 0 : static_cast<int32_t>(calls.last_error());
  s.fill = 0;
  return error;
}

}  // namespace

void write_text(std::string_view text) {
  if (!open_output()) return;
  ConsoleOutput& s = console_output;
  const char* bytes = text.data();
  std::size_t n = text.size();
  std::size_t room = static_cast<std::size_t>(kBufferSize - s.fill);
  while (n >= room) {
    if (room > 0) std::memcpy(s.buffer + s.fill, bytes, room);
    s.fill = kBufferSize;
    bytes += room;
    n -= room;
    int32_t error = write_out();
    if (error != 0) {
      pending_io_result = error;
      return;
    }
    room = kBufferSize;
  }
  if (n > 0) std::memcpy(s.buffer + s.fill, bytes, n);
  s.fill += static_cast<int32_t>(n);
}

void write_char(char c) {
  if (!open_output()) return;
  ConsoleOutput& s = console_output;
  if (s.fill == kBufferSize) {
    int32_t error = write_out();
    if (error != 0) {
      pending_io_result = error;
      return;
    }
  }
  s.buffer[s.fill++] = c;
}

void write_line_end() {
  if (!open_output()) return;
  ConsoleOutput& s = console_output;
  write_text(std::string_view(s.line_end, sizeof s.line_end));
  if (s.mode == ConsoleOutput::Mode::output && s.flush_at_line_end) store_failure(write_out());
}

void flush_output() {
  if (console_output.mode == ConsoleOutput::Mode::output) store_failure(write_out());
}

void close_output() {
  if (console_output.mode == ConsoleOutput::Mode::output) store_failure(write_out());
}

// Not inlined, so that the return address is the writer's check.
__attribute__((noinline)) void check_io() {
  int32_t number = pending_io_result;
  if (number == 0) return;
  pending_io_result = 0;
  raise_failure(new EInOutError(number, in_out_error_message(number)),
                __builtin_return_address(0));
}

const char* in_out_error_words(int32_t number) {
  switch (number) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return nullptr;
  }
}

std::string in_out_error_message(int32_t number) {
  if (const char* words = in_out_error_words(number)) return words;
  return format_value("I/O error %d", {FormatArg::integer(number)});
}

bool console_output_has_pending_bytes() {
  return console_output.mode == ConsoleOutput::Mode::output && console_output.fill > 0;
}

void console_output_reset() {
  console_output.mode = ConsoleOutput::Mode::closed;
  console_output.handle = platform::kInvalidHandle;
  console_output.flush_at_line_end = false;
  console_output.fill = 0;
  pending_io_result = 0;
}
