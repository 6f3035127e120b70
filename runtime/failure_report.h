// The texts of a failure's end: the report, the runtime error kinds with
// their failures and numbers, the mapping of platform exceptions onto the
// failure family, and the fallback's runtime error line. This module only
// builds; the program module (runtime/program.h) raises, writes and ends.
//
//   failure_text(EConvertError("'abc' is not a valid integer value"), raise point)
//     -> "Exception EConvertError in module vantric.exe at 00012A4C.\r\n"
//        "'abc' is not a valid integer value.\r\n"
//
// The report names the module that holds the location and the location's
// offset within it; a location outside every module (0, a jump into data) is
// shown against the program's own module as location - 4096 (0 stays 0).
// The message gets a final "." unless it is empty or has one. The text is cut
// at kReportCapacity bytes; the writer then adds one more CR LF, so the
// report ends with an empty line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "failure/failure.h"
#include "platform/faults.h"

constexpr std::size_t kReportCapacity = 1024;

// The runtime's own error kinds, by the number each has in the runtime.
enum class RuntimeError : int32_t {
  in_out = 0,  // the number and message come from the I/O error number
  out_of_memory = 1,
  invalid_pointer = 2,
  int_divide_by_zero = 3,
  range_check = 4,
  int_overflow = 5,
  float_invalid = 6,
  float_divide_by_zero = 7,
  float_overflow = 8,
  float_underflow = 9,
  invalid_cast = 10,
  access_violation = 11,
  privileged_instruction = 12,
  control_c = 13,
  stack_overflow = 14,
  variant_conversion = 15,
  variant_operation = 16,
  variant_method = 17,
  variant_creation = 18,
  variant_argument = 19,
  variant_bounds = 20,
  assertion = 21,
  external = 22,  // a platform exception with no kind of its own
  interface_cast = 23,
  safecall = 24,
};

// The fallback's runtime error number for a failure (not a runtime error)
// that ends the run while the family is not installed.
constexpr int32_t kUnhandledFailureNumber = 217;

// The runtime error number of a kind (the fallback's exit status):
// in_out gives the low 8 bits of `io_error`, external 255.
//   runtime_error_number(RuntimeError::out_of_memory) == 203
int32_t runtime_error_number(RuntimeError kind, int32_t io_error = 0);

// A new failure of the kind, with the kind table's message ("Range check
// error" for range_check); in_out makes EInOutError(io_error, its message).
Exception* make_runtime_failure(RuntimeError kind, int32_t io_error = 0);

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

// "Runtime error <number> at <location>": 29 characters, the number's last
// digit at the 17th, the location as eight upper-case hex digits (sixteen
// when it does not fit in eight). 217 at 0x1A2B -> "Runtime error 217 at
// 00001A2B"; 5 at 0 -> "Runtime error   5 at 00000000". Writes into
// `line` (at least kRuntimeErrorLineCapacity bytes, zero-ended), returns the
// length. Allocates nothing.
constexpr std::size_t kRuntimeErrorLineCapacity = 40;
std::size_t runtime_error_line(int32_t number, uintptr_t location, char* line);
