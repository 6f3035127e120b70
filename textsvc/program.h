// The process entry's sequence: start steps, the check run, the end
// sequence, and the top-level handler around all of it.
//
//   int main(int argc, char** argv) {
//     // getoptlib's start step builds argc/argv; it has no end step.
//     program_main(argc, argv, &run_check, {{&build_argument_vector, nullptr}});
//   }
//
// Start: the console flag is set, the arguments are handed to the platform,
// the platform fault handlers are installed, then the start steps run in
// order: the text services' own (install the failure family, load the number
// settings), then those of `modules` in the order given. `check_run` follows,
// then end_program(exit_status).
//
// A failure that escapes (a raised Exception*, an allocation failure, a
// platform fault) is reported on standard error and ends the run with
// status 1; when the family is not installed (before its start step or after
// its end step) the run ends through the fallback instead: "Runtime error
// <number> at <location>" on standard output and the number as exit status
// (217 for a failure, the platform table's number for a fault).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/faults.h"

// One module's start and end steps; either may be null.
struct ModuleSteps {
  void (*start)();
  void (*end)();
};

// Set first by program_main: failures are reported on the console, not in a
// message box.
extern bool console_flag;
// The process's exit status; the check run sets it.
extern int32_t exit_status;

[[noreturn]] void program_main(int argc, char** argv, void (*check_run)(),
                               std::initializer_list<ModuleSteps> modules = {});

// Sets the exit status, writes the runtime error line when the fallback
// asked for one, runs the end steps of the started modules in reverse order
// (the text services' among them), then ConsoleOutput's close_output last,
// and ends the process. A failure raised by an end step does not stop the
// others; it goes on to the top-level handler afterwards.
[[noreturn]] void end_program(int32_t status);

// The fallback: remembers `location` for the runtime error line and calls
// end_program(number).
[[noreturn]] void end_with_runtime_error(int32_t number, const void* location);

// The platform fault handler: reports the fault as its failure kind (or, if
// an output failure is pending after the flush, that one) and ends the
// process with 1; without the family, the runtime error line and the platform
// table's number. Uses only fixed storage, so it may run in a signal handler.
[[noreturn]] void handle_platform_fault(const platform::ExceptionRecord& record);
