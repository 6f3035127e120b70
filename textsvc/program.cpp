#include "textsvc/program.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <typeinfo>

#include "platform/args.h"
#include "platform/faults.h"
#include "textsvc/console_output.h"
#include "textsvc/failure.h"
#include "textsvc/failure_report.h"
#include "textsvc/number_text.h"

bool console_flag = false;
int32_t exit_status = 0;

namespace {

// A C++ exception that is not a failure has no platform code of its own;
// this is the code the compiler's own exceptions carry on Windows ("GCC ").
constexpr uint32_t kForeignExceptionCode = 0x20474343;

constexpr std::size_t kMaxModules = 16;
ModuleSteps module_steps[kMaxModules];
std::size_t module_count = 0;
std::size_t started_count = 0;  // modules whose start step has begun
bool output_closed = false;

bool runtime_error_pending = false;
const void* error_location = nullptr;

void text_services_start() {
  install_failure_family();
  load_number_settings();
}

void text_services_end() { uninstall_failure_family(); }

// Turns whatever `step` throws into a failure to hand on (nullptr when it
// returns). Allocation failures become the prepared EOutOfMemory; other C++
// errors become the failure kind of the matching runtime check.
template <class Step>
Exception* run_guarded(Step step) {
  int32_t kind = -1;
  try {
    step();
    return nullptr;
  } catch (Exception* failure) {
    return failure;
  } catch (const std::bad_alloc&) {
    kind = 1;
  } catch (const std::bad_cast&) {
    kind = 10;
  } catch (const std::bad_typeid&) {
    kind = 10;
  } catch (const std::out_of_range&) {
    kind = 4;
  } catch (const std::length_error&) {
    kind = 4;
  } catch (...) {
  }
  try {
    if (kind >= 0) raise_runtime_error(kind, nullptr);
    if (!failure_family_installed()) end_with_runtime_error(217, nullptr);
    platform::ExceptionRecord record;
    record.code = kForeignExceptionCode;
    return map_platform_exception(record);
  } catch (Exception* failure) {
    return failure;
  } catch (...) {
    // Even the failure could not be made: end as the fallback would.
    end_with_runtime_error(kind == 1 ? 203 : 217, nullptr);
  }
}

[[noreturn]] void handle_failure(Exception* failure) {
  const void* location = failure->location();
  if (!failure_family_installed()) {
    release_failure(failure);
    end_with_runtime_error(217, location);
  }
  report_failure(*failure, location);
  release_failure(failure);
  end_program(1);
}

[[noreturn]] void run_program(void (*check_run)()) {
  while (started_count < module_count) {
    const ModuleSteps& steps = module_steps[started_count++];
    if (steps.start != nullptr) steps.start();
  }
  check_run();
  end_program(exit_status);
}

}  // namespace

void program_main(int argc, char** argv, void (*check_run)(), std::initializer_list<ModuleSteps> modules) {
  console_flag = true;
  platform::set_process_arguments(argc, argv);
  platform::install_fault_handlers(&handle_platform_fault);
  module_steps[module_count++] = {&text_services_start, &text_services_end};
  for (const ModuleSteps& steps : modules) {
    if (module_count < kMaxModules) module_steps[module_count++] = steps;
  }
  Exception* failure = run_guarded([&] { run_program(check_run); });
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
    if (failure_family_installed()) {
      if (deferred_failure != nullptr) throw deferred_failure;
      raise_runtime_error(1, deferred_location);
    }
    // The family has gone with the text services' end step: the failure
    // ends the run as runtime error 217.
    if (deferred_failure != nullptr) release_failure(deferred_failure);
    end_with_runtime_error(217, deferred_location);
  }
  platform::exit_process(exit_status);
}

void end_with_runtime_error(int32_t number, const void* location) {
  runtime_error_pending = true;
  error_location = location;
  end_program(number);
}

void handle_platform_fault(const platform::ExceptionRecord& record) {
  static char report[kReportCapacity + 1];
  if (!failure_family_installed()) {
    int32_t number = platform_exception_number(record.code);
    write_runtime_error_line(number, record.address);
    platform::exit_process_now(number);
  }
  flush_output();
  std::size_t length = 0;
  int32_t io_error = pending_io_result;
  if (io_error != 0) {
    // The output written before the fault could not go out: that failure
    // is the one reported, as the report's own output check would raise it.
    pending_io_result = 0;
  report_point:
    length = io_failure_report_text(io_error, &&report_point, report);
  } else {
    length = fault_report_text(record, report);
  }
  if (console_flag) {
    write_report(report, length);
  } else {
    platform::show_message_box(report, "Application Error");
  }
  platform::exit_process_now(1);
}
