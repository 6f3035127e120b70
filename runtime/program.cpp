#include "runtime/program.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "failure/failure.h"
#include "platform/args.h"
#include "platform/console.h"
#include "platform/faults.h"
#include "runtime/console_output.h"
#include "runtime/failure_report.h"

int32_t exit_status = 0;

namespace {

// A C++ exception that is not a failure has no platform code of its own;
// this is the code the compiler's own exceptions carry on Windows ("GCC ").
constexpr uint32_t kForeignExceptionCode = 0x20474343;
constexpr int32_t kFailureStatus = 1;

constexpr std::size_t kMaxModules = 16;
ModuleSteps module_steps[kMaxModules];
std::size_t module_count = 0;
std::size_t started_count = 0;  // modules whose start step has begun
bool output_closed = false;

// Failures are reported on the console, not in a message box.
bool console_flag = false;

bool runtime_error_pending = false;
const void* error_location = nullptr;

bool family_installed = false;
EOutOfMemory* prepared_out_of_memory = nullptr;
EInvalidPointer* prepared_invalid_pointer = nullptr;

FailureEnding failure_ending = nullptr;

// The program's own ending, when it has one; it does not come back.
void hand_to_ending(const char* text, std::size_t length, int32_t status) {
  if (failure_ending != nullptr) failure_ending(text, length, status);
}

void runtime_start() { install_failure_family(); }

void runtime_end() { uninstall_failure_family(); }

[[noreturn]] void end_with_runtime_error(int32_t number, const void* location) {
  runtime_error_pending = true;
  error_location = location;
  end_program(number);
}

// The last part of every report: a finished text, converted to the OEM code
// page, to standard error, then one more CR LF. Results are ignored. Safe in
// the fault handler.
void write_report(char* text, std::size_t length) {
  if (!console_flag) {
    platform::show_message_box(text, "Application Error");
    return;
  }
  platform::convert_to_oem(text, length);
  platform::write_std_error(text, static_cast<uint32_t>(length));
  platform::write_std_error("\r\n", 2);
}

// Flushes ConsoleOutput and checks it first, so that the text written
// before the failure precedes the report; a pending output failure raises
// here and is what gets reported instead. A program's own ending comes
// before all that: its line is all it writes.
void report_failure(const Exception& failure, const void* location) {
  // Fixed storage: reporting an exhausted heap must not need the heap.
  static char report[kReportCapacity + 1];
  std::size_t length = failure_text(failure, location, report);
  hand_to_ending(report, length, kFailureStatus);
  flush_output();
  check_io();
  write_report(report, length);
}

// Writes out what ConsoleOutput holds, ignoring a failure of that write-out
// (the line follows regardless), then the line and CR LF to standard
// output; or hands the line to the program's own ending. Safe in the fault
// handler.
void write_runtime_error_line(int32_t number, uintptr_t location) {
  char line[kRuntimeErrorLineCapacity];
  std::size_t length = runtime_error_line(number, location, line);
  hand_to_ending(line, length, number);
  int32_t pending = take_pending_io_result();
  flush_output();
  restore_pending_io_result(pending);
  platform::ConsoleCalls& calls = platform::console_calls();
  platform::FileHandle handle = calls.std_output_handle();
  if (handle == platform::kInvalidHandle) return;
  uint32_t written = 0;
  calls.write_file(handle, line, static_cast<uint32_t>(length), &written);
  calls.write_file(handle, "\r\n", 2, &written);
}

// The platform fault handler: reports the fault as its failure kind (or, if
// an output failure is pending after the flush, that one) and ends the
// process with 1; without the family, the runtime error line and the platform
// table's number. A program's own ending gets the fault's report as it is,
// unflushed output being no concern of its line. Uses only fixed storage,
// so it may run in a signal handler.
[[noreturn]] void handle_platform_fault(const platform::ExceptionRecord& record) {
  static char report[kReportCapacity + 1];
  if (!family_installed) {
    int32_t number = platform_exception_number(record.code);
    write_runtime_error_line(number, record.address);
    platform::exit_process_now(number);
  }
  if (failure_ending != nullptr) {
    hand_to_ending(report, fault_report_text(record, report), kFailureStatus);
  }
  flush_output();
  std::size_t length = 0;
  if (int32_t io_error = take_pending_io_result(); io_error != 0) {
    // The output written before the fault could not go out: that failure
    // is the one reported, as the report's own output check would raise it.
  report_point:
    length = io_failure_report_text(io_error, &&report_point, report);
  } else {
    length = fault_report_text(record, report);
  }
  write_report(report, length);
  platform::exit_process_now(kFailureStatus);
}

// Turns whatever `step` throws into a failure to hand on (nullptr when it
// returns). Allocation failures become the prepared EOutOfMemory; other C++
// errors become the failure kind of the matching runtime check.
template <class Step>
Exception* run_guarded(Step step) {
  bool runtime_error = true;
  RuntimeError kind = RuntimeError::external;
  try {
    step();
    return nullptr;
  } catch (Exception* failure) {
    return failure;
  } catch (const std::bad_alloc&) {
    kind = RuntimeError::out_of_memory;
  } catch (const std::bad_cast&) {
    kind = RuntimeError::invalid_cast;
  } catch (const std::bad_typeid&) {
    kind = RuntimeError::invalid_cast;
  } catch (const std::out_of_range&) {
    kind = RuntimeError::range_check;
  } catch (const std::length_error&) {
    kind = RuntimeError::range_check;
  } catch (...) {
    runtime_error = false;
  }
  try {
    if (runtime_error) raise_runtime_error(kind, nullptr);
    if (!family_installed) end_with_runtime_error(kUnhandledFailureNumber, nullptr);
    platform::ExceptionRecord record;
    record.code = kForeignExceptionCode;
    return map_platform_exception(record);
  } catch (Exception* failure) {
    return failure;
  } catch (...) {
    // Even the failure could not be made: end as the fallback would.
    end_with_runtime_error(
        kind == RuntimeError::out_of_memory ? runtime_error_number(kind) : kUnhandledFailureNumber,
        nullptr);
  }
}

// Takes ownership of `failure`, also when the report's own output check
// raises another one instead.
[[noreturn]] void handle_failure(Exception* failure) {
  const void* location = failure->location();
  if (!family_installed) {
    release_failure(failure);
    end_with_runtime_error(kUnhandledFailureNumber, location);
  }
  try {
    report_failure(*failure, location);
  } catch (...) {
    release_failure(failure);
    throw;
  }
  release_failure(failure);
  end_program(kFailureStatus);
}

// An exhausted heap may have no room even for the exception object that
// would carry std::bad_alloc (the runtime's emergency pool is itself
// allocated at start-up, and may be missing), and a throw that cannot
// allocate ends in std::terminate. So a failed allocation ends the run
// here, through the out-of-memory path, without throwing; the clean-up
// blocks an unwind would run only release memory.
[[noreturn]] void end_out_of_memory() {
  // A second exhaustion while reporting throws as usual and is handled by
  // the top-level handler.
  std::set_new_handler(nullptr);
  if (!family_installed) {
    end_with_runtime_error(runtime_error_number(RuntimeError::out_of_memory), nullptr);
  }
  prepared_out_of_memory->set_location(nullptr);
  handle_failure(prepared_out_of_memory);
}

[[noreturn]] void run_program(int argc, char** argv, void (*check_run)()) {
  // Inside the handler: copying the arguments may already exhaust memory.
  platform::set_process_arguments(argc, argv);
  platform::install_fault_handlers(&handle_platform_fault);
  while (started_count < module_count) {
    const ModuleSteps& steps = module_steps[started_count++];
    if (steps.start != nullptr) steps.start();
  }
  check_run();
  end_program(exit_status);
}

}  // namespace

void program_main(int argc, char** argv, void (*check_run)(),
                  std::initializer_list<ModuleSteps> modules, FailureEnding ending) {
  console_flag = true;
  failure_ending = ending;
  std::set_new_handler(&end_out_of_memory);
  module_steps[module_count++] = {&runtime_start, &runtime_end};
  for (const ModuleSteps& steps : modules) {
    if (module_count < kMaxModules) module_steps[module_count++] = steps;
  }
  Exception* failure = run_guarded([&] { run_program(argc, argv, check_run); });
  // A failure while reporting (the report's own output check) comes back
  // here and is reported the same way.
  for (;;) failure = run_guarded([&] { handle_failure(failure); });
}

void end_program(int32_t status) {
  exit_status = status;
  if (runtime_error_pending) {
    runtime_error_pending = false;
    write_runtime_error_line(exit_status, reinterpret_cast<uintptr_t>(error_location));
    error_location = nullptr;
  }
  bool deferred = false;
  Exception* deferred_failure = nullptr;
  const void* deferred_location = nullptr;
  while (started_count > 0) {
    const ModuleSteps steps = module_steps[--started_count];
    if (steps.end == nullptr) continue;
    Exception* failure = run_guarded(steps.end);
    if (failure == nullptr) continue;
    if (deferred) {
      release_failure(failure);
      continue;
    }
    deferred = true;
    deferred_location = failure->location();
    // A prepared memory failure is released by the family's own end step,
    // which may still be ahead: keep only its location.
    auto* heap = dynamic_cast<EHeapException*>(failure);
    if (heap != nullptr && !heap->allow_release()) {
      deferred_failure = nullptr;
    } else {
      deferred_failure = failure;
    }
  }
  if (!output_closed) {
    output_closed = true;
    close_output();
  }
  if (deferred) {
    if (family_installed) {
      if (deferred_failure != nullptr) throw deferred_failure;
      raise_runtime_error(RuntimeError::out_of_memory, deferred_location);
    }
    // The family has gone with the runtime's end step: the failure
    // ends the run as the fallback's unhandled failure.
    if (deferred_failure != nullptr) release_failure(deferred_failure);
    end_with_runtime_error(kUnhandledFailureNumber, deferred_location);
  }
  platform::exit_process(exit_status);
}

void raise_runtime_error(RuntimeError kind, const void* location) {
  if (!family_installed) {
    int32_t io_error = kind == RuntimeError::in_out ? take_pending_io_result() : 0;
    end_with_runtime_error(runtime_error_number(kind, io_error), location);
  }
  if (kind == RuntimeError::out_of_memory) raise_failure(prepared_out_of_memory, location);
  if (kind == RuntimeError::invalid_pointer) raise_failure(prepared_invalid_pointer, location);
  int32_t io_error = kind == RuntimeError::in_out ? take_pending_io_result() : 0;
  raise_failure(make_runtime_failure(kind, io_error), location);
}

__attribute__((noinline)) void raise_assertion_failed(std::string_view message,
                                                      std::string_view file, int32_t line) {
  std::string text(message.empty() ? std::string_view("Assertion failed") : message);
  text += " (";
  text += file;
  text += ", line ";
  text += std::to_string(line);
  text += ")";
raise_point:
  raise_failure(new EAssertionFailed(std::move(text)), &&raise_point);
}

void install_failure_family() {
  if (family_installed) return;
  // NOLINTBEGIN(bugprone-throw-keyword-missing): raised later, when the fault happens
  prepared_out_of_memory = new EOutOfMemory("Out of memory");
  prepared_out_of_memory->set_allow_release(false);
  prepared_invalid_pointer = new EInvalidPointer("Invalid pointer operation");
  // NOLINTEND(bugprone-throw-keyword-missing)
  prepared_invalid_pointer->set_allow_release(false);
  family_installed = true;
}

void uninstall_failure_family() {
  if (!family_installed) return;
  family_installed = false;
  prepared_out_of_memory->set_allow_release(true);
  release_failure(prepared_out_of_memory);
  prepared_out_of_memory = nullptr;
  prepared_invalid_pointer->set_allow_release(true);
  release_failure(prepared_invalid_pointer);
  prepared_invalid_pointer = nullptr;
}
