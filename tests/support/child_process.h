// Runs a piece of a test in a child process, for the tests that end the
// process on purpose (the program's end sequence, a fault). Posix only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace test_support {

struct ChildOutcome {
  bool exited = false;  // ended by exit; otherwise by a signal
  int32_t status = 0;   // the exit status, or the signal number
  bool core_dumped = false;
};

// Runs `body(argument)` in a forked child whose standard output and
// standard error are captured (each cut to capacity - 1 bytes, zero-ended)
// and reports how it ended. False when the child could not be started.
bool run_in_child(void (*body)(void*), void* argument, char* out, std::size_t out_capacity,
                  char* err, std::size_t err_capacity, ChildOutcome* outcome);

}  // namespace test_support
