// The failure family: every error that the program does not handle where it
// arises is raised as one of these and ends the run through the report.
//
// Failures are raised as pointers (`throw Exception*`) so that the prepared
// out-of-memory failure can be raised again and again without allocating;
// the top-level handler owns what it catches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

#define VANTRIC_FAILURE_KIND(Kind, Parent)                                  \
  class Kind : public Parent {                                              \
  public:                                                                   \
    using Parent::Parent;                                                   \
    const char* kind_name() const override { return #Kind; }                \
  }

VANTRIC_FAILURE_KIND(EHeapException, Exception);
VANTRIC_FAILURE_KIND(EExternal, Exception);
VANTRIC_FAILURE_KIND(EIntError, EExternal);
VANTRIC_FAILURE_KIND(EMathError, EExternal);
VANTRIC_FAILURE_KIND(EConvertError, Exception);

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

// Raises EConvertError with `message_template` expanded by format_value with
// `text` as its one text argument. Every conversion error goes through here,
// so all of them report one and the same location.
[[noreturn]] void raise_convert_error(const char* message_template, std::string_view text);
