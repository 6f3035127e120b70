// The program's lifecycle: start steps, the check run, the end sequence, the
// top-level handler around all of it, the failure family's installation and
// every final write (the failure report, the runtime error line). The texts
// themselves are built by runtime/failure_report.h.
//
//   int main(int argc, char** argv) {
//     // The number text's start step loads the locale's settings,
//     // getoptlib's builds argc/argv; neither has an end step.
//     program_main(argc, argv, &run_check,
//                  {{&load_number_settings, nullptr}, {&build_argument_vector, nullptr}});
//   }
//
// Start: the console flag is set, then, inside the top-level handler, the
// arguments are handed to the platform, the platform fault handlers are
// installed, and the start steps run in order: the runtime's own (install
// the failure family), then those of `modules` in the order given.
// `check_run` follows, then end_program(exit_status).
//
// A failure that escapes (a raised Exception*, an allocation failure, a
// platform fault) is reported on standard error and ends the run with
// status 1; when the family is not installed (before its start step or after
// its end step) the run ends through the fallback instead: "Runtime error
// <number> at <location>" on standard output and the number as exit status
// (217 for a failure, the platform table's number for a fault). An
// allocation that cannot be satisfied ends the run at once through the same
// out-of-memory path (the EOutOfMemory report, or "Runtime error 203" before
// the family is installed) without throwing: an exhausted heap may have no
// room for the exception object either.
//
// A program whose every ending must keep one shape (a monitoring plugin's
// status line) passes a FailureEnding: it then gets the report or the
// runtime error line instead of standard error or standard output, and ends
// the process itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/faults.h"
#include "runtime/failure_report.h"

// One module's start and end steps; either may be null.
struct ModuleSteps {
  void (*start)();
  void (*end)();
};

// Called instead of writing the failure report (`text` the whole report,
// CR LF line ends included, `status` 1) or the runtime error line (`text`
// without its CR LF, `status` the runtime error number); ConsoleOutput is
// not flushed first. It must end the process, and may run in the fault
// handler: fixed storage and the calls safe there only.
//   [](const char* text, std::size_t length, int32_t) { ...; platform::exit_process_now(3); }
using FailureEnding = void (*)(const char* text, std::size_t length, int32_t status);

// The process's exit status; the check run sets it.
extern int32_t exit_status;

// `ending` null: the report and the runtime error line as described above.
[[noreturn]] void program_main(int argc, char** argv, void (*check_run)(),
                               std::initializer_list<ModuleSteps> modules = {},
                               FailureEnding ending = nullptr);

// Sets the exit status, writes the runtime error line when the fallback
// asked for one, runs the end steps of the started modules in reverse order
// (the runtime's own among them), then ConsoleOutput's close_output last,
// and ends the process. A failure raised by an end step does not stop the
// others; it goes on to the top-level handler afterwards.
[[noreturn]] void end_program(int32_t status);

// While the family is installed, raises the kind's failure at `location`
// (out_of_memory and invalid_pointer raise the two prepared failures, every
// time the same objects; in_out takes the pending I/O result for its number).
// Otherwise ends the program through the fallback: the runtime error number
// as exit status and the runtime error line at `location`.
//   raise_runtime_error(RuntimeError::float_overflow, here)
//     -> EOverflow "Floating point overflow"; without the family: status 205
[[noreturn]] void raise_runtime_error(RuntimeError kind, const void* location);

// Raises EAssertionFailed "<message> (<file>, line <line>)", with "Assertion
// failed" for an empty message; the text is put together here, without the
// format engine.
//   raise_assertion_failed("count > 0", "a.cpp", 7)
//     -> EAssertionFailed "count > 0 (a.cpp, line 7)"
[[noreturn]] void raise_assertion_failed(std::string_view message, std::string_view file,
                                         int32_t line);

// The runtime's start and end steps for the family: the two prepared
// memory failures are made at install and released at uninstall.
void install_failure_family();
void uninstall_failure_family();
