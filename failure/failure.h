// The failure family: every error that the program does not handle where it
// arises is raised as one of these and ends the run through the report.
//
// Failures are raised as pointers (`throw Exception*`) so that the prepared
// out-of-memory failure can be raised again and again without allocating;
// the top-level handler owns what it catches and gives it back with
// release_failure.
//
//   raise_failure(new EConvertError("'abc' is not a valid integer value"), here);
//
// The tree (every kind derives from Exception, which is never raised itself):
//   EHeapException: EOutOfMemory, EInvalidPointer
//   EInOutError (carries the I/O error number)
//   EExternal (carries the platform's exception record): EExternalException,
//     EIntError: EDivByZero, ERangeError, EIntOverflow
//     EMathError: EInvalidOp, EZeroDivide, EOverflow, EUnderflow
//     EAccessViolation, EPrivilege, EStackOverflow, EControlC
//   EInvalidCast, EConvertError, EVariantError, EAssertionFailed,
//   EAbstractError, EIntfCastError, ESafecallException
#pragma once

#include <string>
#include <string_view>

#include "platform/faults.h"

class Exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  virtual ~Exception() = default;
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;

  // The kind's name as the report shows it, e.g. "EConvertError".
  virtual const char* kind_name() const { return "Exception"; }

  const std::string& message() const { return message_; }
  // Code address of the raise (0 when unknown).
  const void* location() const { return location_; }
  void set_location(const void* location) { location_ = location; }

 private:
  std::string message_;
  const void* location_ = nullptr;
};

// NOLINTBEGIN(bugprone-macro-parentheses): Kind and Parent are class names
#define VANTRIC_FAILURE_KIND(Kind, Parent)                   \
  class Kind : public Parent {                               \
   public:                                                   \
    using Parent::Parent;                                    \
    const char* kind_name() const override { return #Kind; } \
  }
// NOLINTEND(bugprone-macro-parentheses)

// Base of the two memory failures. The prepared instances refuse release
// until the family is uninstalled and sets their flag.
class EHeapException : public Exception {
 public:
  using Exception::Exception;
  const char* kind_name() const override { return "EHeapException"; }
  bool allow_release() const { return allow_release_; }
  void set_allow_release(bool allow) { allow_release_ = allow; }

 private:
  bool allow_release_ = true;
};

// Base of the failures that come from the platform; `record` is filled when
// the failure was mapped from a platform exception (code 0 otherwise).
class EExternal : public Exception {
 public:
  using Exception::Exception;
  const char* kind_name() const override { return "EExternal"; }
  const platform::ExceptionRecord& record() const { return record_; }
  void set_record(const platform::ExceptionRecord& record) { record_ = record; }

 private:
  platform::ExceptionRecord record_;
};

VANTRIC_FAILURE_KIND(EOutOfMemory, EHeapException);
VANTRIC_FAILURE_KIND(EInvalidPointer, EHeapException);
VANTRIC_FAILURE_KIND(EExternalException, EExternal);
VANTRIC_FAILURE_KIND(EIntError, EExternal);
VANTRIC_FAILURE_KIND(EDivByZero, EIntError);
VANTRIC_FAILURE_KIND(ERangeError, EIntError);
VANTRIC_FAILURE_KIND(EIntOverflow, EIntError);
VANTRIC_FAILURE_KIND(EMathError, EExternal);
VANTRIC_FAILURE_KIND(EInvalidOp, EMathError);
VANTRIC_FAILURE_KIND(EZeroDivide, EMathError);
VANTRIC_FAILURE_KIND(EOverflow, EMathError);
VANTRIC_FAILURE_KIND(EUnderflow, EMathError);
VANTRIC_FAILURE_KIND(EAccessViolation, EExternal);
VANTRIC_FAILURE_KIND(EPrivilege, EExternal);
VANTRIC_FAILURE_KIND(EStackOverflow, EExternal);
VANTRIC_FAILURE_KIND(EControlC, EExternal);
VANTRIC_FAILURE_KIND(EInvalidCast, Exception);
VANTRIC_FAILURE_KIND(EConvertError, Exception);
VANTRIC_FAILURE_KIND(EVariantError, Exception);
VANTRIC_FAILURE_KIND(EAssertionFailed, Exception);
VANTRIC_FAILURE_KIND(EAbstractError, Exception);
VANTRIC_FAILURE_KIND(EIntfCastError, Exception);
VANTRIC_FAILURE_KIND(ESafecallException, Exception);

class EInOutError : public Exception {
 public:
  EInOutError(int error_code, std::string message)
      : Exception(std::move(message)), error_code_(error_code) {}
  const char* kind_name() const override { return "EInOutError"; }
  int error_code() const { return error_code_; }

 private:
  int error_code_;
};

// Raises `failure` (which the caller allocated with new) with `location` as
// the code address of the raise.
[[noreturn]] void raise_failure(Exception* failure, const void* location);

// Raises EConvertError with the first "%s" of `message_template` replaced by
// `text` (taken as it is, a "%" in it included); the rest of the template
// stays as written. Every conversion error goes through here, so all of them
// report one and the same location.
//   raise_convert_error("'%s' is not a valid integer value", "abc")
//     -> EConvertError "'abc' is not a valid integer value"
[[noreturn]] void raise_convert_error(const char* message_template, std::string_view text);

// Runtime errors (out of memory, range check, ...) and assertion failures
// are raised by the program module: raise_runtime_error and
// raise_assertion_failed in runtime/program.h.

// Raises EAbstractError "Abstract Error": a call of an operation without body.
[[noreturn]] void raise_abstract_error();

// Gives back a failure the top-level handler caught: deletes it, except a
// prepared memory failure whose release flag is not set.
void release_failure(Exception* failure);
