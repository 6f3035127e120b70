#include "runtime/console_output.h"

#include <cstring>

#include "failure/failure.h"
#include "number_text/format.h"
#include "platform/console.h"
#include "runtime/console_stream.h"

namespace {

// One thread writes; a thread-local here would buy nothing and costs a
// dynamic TLS access on every failed write.
ConsoleStream stream_state;

}  // namespace

ConsoleStream& console_stream() { return stream_state; }

namespace {

// Reported for every write while the standard output cannot be opened,
// whatever the platform said during the attempt.
constexpr int32_t kNoStandardOutput = 105;

void store_failure(int32_t number) {
  if (number != 0) stream_state.pending_io_result = number;
}

// Binds to the standard output handle of this moment. A failed open leaves
// the stream closed so that the next write tries again.
bool open_output() {
  ConsoleStream& stream = stream_state;
  if (stream.mode == ConsoleStream::Mode::output) return true;
  stream.line_end[0] = '\r';
  stream.line_end[1] = '\n';
  stream.mode = ConsoleStream::Mode::output;
  stream.fill = 0;
  stream.flush_at_line_end = false;

  platform::ConsoleCalls& calls = platform::console_calls();
  stream.handle = calls.std_output_handle();
  bool failed = stream.handle == platform::kInvalidHandle;
  if (!failed) {
    platform::FileType type = calls.file_type(stream.handle);
    if (type == platform::FileType::unknown) {
      calls.close_handle(stream.handle);
      failed = true;
    } else if (type == platform::FileType::character) {
      stream.flush_at_line_end = true;
    }
  }
  if (failed) {
    stream.mode = ConsoleStream::Mode::closed;
    stream_state.pending_io_result = kNoStandardOutput;
    return false;
  }
  return true;
}

// The stream's only platform write. The buffer is emptied whether or not
// the write succeeded, so a failed block is never sent a second time.
// Returns 0 or the platform's error code.
int32_t write_out() {
  ConsoleStream& stream = stream_state;
  if (stream.fill == 0) return 0;
  platform::ConsoleCalls& calls = platform::console_calls();
  uint32_t written = 0;
  bool ok =
      calls.write_file(stream.handle, stream.buffer, static_cast<uint32_t>(stream.fill), &written);
  int32_t error = ok ? 0 : static_cast<int32_t>(calls.last_error());
  stream.fill = 0;
  return error;
}

}  // namespace

void write_text(std::string_view text) {
  if (!open_output()) return;
  ConsoleStream& stream = stream_state;
  const char* bytes = text.data();
  std::size_t n = text.size();
  std::size_t room = static_cast<std::size_t>(kConsoleBufferSize - stream.fill);
  while (n >= room) {
    if (room > 0) std::memcpy(stream.buffer + stream.fill, bytes, room);
    stream.fill = kConsoleBufferSize;
    bytes += room;
    n -= room;
    int32_t error = write_out();
    if (error != 0) {
      stream_state.pending_io_result = error;
      return;
    }
    room = kConsoleBufferSize;
  }
  if (n > 0) std::memcpy(stream.buffer + stream.fill, bytes, n);
  stream.fill += static_cast<int32_t>(n);
}

void write_char(char byte) {
  if (!open_output()) return;
  ConsoleStream& stream = stream_state;
  if (stream.fill == kConsoleBufferSize) {
    int32_t error = write_out();
    if (error != 0) {
      stream_state.pending_io_result = error;
      return;
    }
  }
  stream.buffer[stream.fill++] = byte;
}

void write_line_end() {
  if (!open_output()) return;
  ConsoleStream& stream = stream_state;
  write_text(std::string_view(stream.line_end, sizeof stream.line_end));
  if (stream.mode == ConsoleStream::Mode::output && stream.flush_at_line_end)
    store_failure(write_out());
}

void flush_output() {
  if (stream_state.mode == ConsoleStream::Mode::output) store_failure(write_out());
}

void close_output() {
  if (stream_state.mode == ConsoleStream::Mode::output) store_failure(write_out());
}

// Not inlined, so that the return address is the writer's check.
__attribute__((noinline)) void check_io() {
  int32_t number = take_pending_io_result();
  if (number == 0) return;
  raise_failure(new EInOutError(number, in_out_error_message(number)), __builtin_return_address(0));
}

const char* in_out_error_words(int32_t number) {
  switch (number) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return nullptr;
  }
}

std::string in_out_error_message(int32_t number) {
  if (const char* words = in_out_error_words(number)) return words;
  return format_value("I/O error %d", {FormatArg::integer(number)});
}

int32_t take_pending_io_result() {
  int32_t number = stream_state.pending_io_result;
  stream_state.pending_io_result = 0;
  return number;
}

void restore_pending_io_result(int32_t number) { stream_state.pending_io_result = number; }
