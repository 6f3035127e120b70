// Helpers that only tests (and fuzz targets) link: they reach into state
// that the program itself never needs to reset or change.
#pragma once

#include <cstddef>
#include <string>

// ConsoleOutput back to its start-up state: closed, empty buffer, no
// pending I/O result.
void console_output_reset();
// True when ConsoleOutput is open and its buffer holds bytes.
bool console_output_has_pending_bytes();

namespace test_support {

// Sets the environment variable `name` to `value`, or removes it when
// `value` is null, so that a test chooses the environment a scan starts in.
void set_environment(const char* name, const char* value);

// What one check_io raised, if anything (the failure is released).
struct Caught {
  bool raised = false;
  std::string kind;
  std::string message;
  int code = 0;  // EInOutError's number
  const void* location = nullptr;
};
Caught run_check_io();

// `length` bytes that differ from their neighbours, so a byte written twice
// or out of order shows; `seed` gives another such text.
std::string pattern(std::size_t length, unsigned seed = 0);

// The program's own module name as the failure report shows it.
std::string program_name();

}  // namespace test_support
