// Platform exceptions, module lookup and the last steps of the process.
//
// A fault (access violation, division by zero, stack overflow, Control-C, ...)
// reaches the program as an ExceptionRecord with the system's exception code.
// The posix backend translates a signal into the code that the same event has
// on Windows, so one mapping table serves both systems:
//
//   install_fault_handlers(&on_fault);   // on_fault reports and ends the process
//   *(volatile int*)nullptr = 1;         // on_fault({0xC0000005, 0, <pc>, 2, {1, 0}})
//
// The handler runs in a restricted context (a signal handler on its own stack,
// or the unhandled-exception filter of a thread whose stack may be exhausted):
// it may use only fixed storage and the calls below that say so.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

constexpr uint32_t kMaxExceptionParameters = 15;

struct ExceptionRecord {
  uint32_t code = 0;
  uint32_t flags = 0;
  uintptr_t address = 0;  // the faulting instruction
  uint32_t parameter_count = 0;
  uintptr_t parameters[kMaxExceptionParameters] = {};
};

// Exception codes of the events the program maps to failure kinds.
namespace fault_code {
constexpr uint32_t kAccessViolation = 0xC0000005;
constexpr uint32_t kArrayBoundsExceeded = 0xC000008C;
constexpr uint32_t kFloatDenormalOperand = 0xC000008D;
constexpr uint32_t kFloatDivideByZero = 0xC000008E;
constexpr uint32_t kFloatInexactResult = 0xC000008F;
constexpr uint32_t kFloatInvalidOperation = 0xC0000090;
constexpr uint32_t kFloatOverflow = 0xC0000091;
constexpr uint32_t kFloatStackCheck = 0xC0000092;
constexpr uint32_t kFloatUnderflow = 0xC0000093;
constexpr uint32_t kIntegerDivideByZero = 0xC0000094;
constexpr uint32_t kIntegerOverflow = 0xC0000095;
constexpr uint32_t kPrivilegedInstruction = 0xC0000096;
constexpr uint32_t kStackOverflow = 0xC00000FD;
constexpr uint32_t kControlCExit = 0xC000013A;
constexpr uint32_t kIllegalInstruction = 0xC000001D;
constexpr uint32_t kBreakpoint = 0x80000003;
// A posix signal with no Windows counterpart: this base plus the signal number.
constexpr uint32_t kOtherSignalBase = 0xE0000000;
}  // namespace fault_code

// Called with the record of a fault that nothing else handled. Must not
// return (it ends the process); if it does, the system's default action
// follows.
using FaultHandler = void (*)(const ExceptionRecord& record);

// Posix: handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT,
// SIGSYS and SIGINT on an alternate signal stack, and SIGXFSZ ignored (a
// write past the file size limit fails with EFBIG). Windows: an unhandled-
// exception filter and a console control handler. Also caches what the
// handler's module lookup needs (the program's own path).
void install_fault_handlers(FaultHandler handler);

// The module (executable or shared library) that holds `address`: copies its
// path, zero-ended and cut to `capacity` - 1 bytes, and stores its load base.
// False when no module holds the address. Safe in the fault handler.
bool find_module(uintptr_t address, char* path, std::size_t capacity, uintptr_t* base);
// The program's own module path, zero-ended and cut like find_module's.
// Safe in the fault handler once install_fault_handlers has run.
void program_path(char* path, std::size_t capacity);
// True for the byte that separates folders in a module path.
bool is_path_separator(char c);

// Converts `length` bytes in place from the ANSI to the OEM code page
// (Windows: CharToOemBuffA, the counted form of CharToOemA). Elsewhere texts
// stay as they are.
void convert_to_oem(char* text, std::size_t length);
// A message box with an OK button (Windows: MessageBoxA); elsewhere the text
// and caption go to standard error.
void show_message_box(const char* text, const char* caption);

// Ends the process with `status` (Windows: ExitProcess).
[[noreturn]] void exit_process(int32_t status);
// Ends the process at once, from the fault handler: no library clean-up.
[[noreturn]] void exit_process_now(int32_t status);

}  // namespace platform
