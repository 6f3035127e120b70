// The failure report, the runtime's error kinds and the mapping of platform
// exceptions onto the failure family.
//
//   failure_text(EConvertError("'abc' is not a valid integer value"), raise point)
//     -> "Exception EConvertError in module vantric.exe at 00012A4C.\r\n"
//        "'abc' is not a valid integer value.\r\n"
//
// The report names the module that holds the location and the location's
// offset within it; a location outside every module (0, a jump into data) is
// shown against the program's own module as location - 4096 (0 stays 0).
// The message gets a final "." unless it is empty or has one. The text is cut
// at kReportCapacity bytes; report_failure then writes one more CR LF, so the
// report ends with an empty line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/faults.h"
#include "textsvc/failure.h"

constexpr std::size_t kReportCapacity = 1024;

// raise_runtime_error is declared with the family in textsvc/failure.h.

// The runtime error number of a kind (the fallback's exit status): kind 0
// gives the low 8 bits of `io_error`; kind 22 and unknown kinds give 255.
int32_t runtime_error_number(int32_t kind, int32_t io_error = 0);

// The failure for a platform exception (allocated; the record is kept and
// the location is the faulting address). 0xC0000094 -> EDivByZero "Division
// by zero"; 0xC0000005 -> EAccessViolation "Access violation at address
// 0040123A in module 'vantric.exe'. Read of address 00000000"; an unknown
// code -> EExternalException "External exception C0001234".
Exception* map_platform_exception(const platform::ExceptionRecord& record);
// The runtime error number for a platform exception code (255 when unknown).
int32_t platform_exception_number(uint32_t code);

// Writes the report text, zero-ended, into `buffer` (kReportCapacity + 1
// bytes) and returns its length. Allocates nothing.
std::size_t failure_text(const Exception& failure, const void* location, char* buffer);
std::string failure_text(const Exception& failure, const void* location);

// The same report for a platform exception, built without the failure
// object, allocation or locks, so that the fault handler can use it:
// equal to failure_text(*map_platform_exception(record), record.address).
std::size_t fault_report_text(const platform::ExceptionRecord& record, char* buffer);
// The same for an I/O failure with the given number at `location`, also safe
// in the fault handler.
std::size_t io_failure_report_text(int32_t io_error, const void* location, char* buffer);

// Flushes ConsoleOutput and checks it (a pending output failure raises here
// and is what gets reported instead), then writes the report and one more
// CR LF to standard error, converted to the OEM code page. Results of the
// writes are ignored. Without the console flag the text goes to a message box.
void report_failure(const Exception& failure, const void* location);
// The last part of report_failure: writes a finished report text. Safe in the
// fault handler.
void write_report(char* text, std::size_t length);

// "Runtime error <number> at <location>": 29 characters, the number's last
// digit at the 17th, the location as eight upper-case hex digits (sixteen
// when it does not fit in eight). 217 at 0x1A2B -> "Runtime error 217 at
// 00001A2B"; 5 at 0 -> "Runtime error     5 at 00000000". Writes into
// `line` (at least kRuntimeErrorLineCapacity bytes, zero-ended), returns the
// length.
constexpr std::size_t kRuntimeErrorLineCapacity = 40;
std::size_t runtime_error_line(int32_t number, uintptr_t location, char* line);
// Writes out what ConsoleOutput holds (ignoring a failure), then the line and
// CR LF to standard output. Safe in the fault handler.
void write_runtime_error_line(int32_t number, uintptr_t location);

// The text services' start and end steps for the family: the two prepared
// memory failures are made at install and released at uninstall.
void install_failure_family();
void uninstall_failure_family();
bool failure_family_installed();
