#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <regex>
#include <stdexcept>
#include <string>

#include "failure/failure.h"
#include "platform/faults.h"
#include "runtime/console_output.h"
#include "runtime/failure_report.h"
#include "runtime/program.h"
#include "tests/support/test_support.h"

namespace {

namespace code = platform::fault_code;
using test_support::program_name;

// A code address inside this test program.
__attribute__((noinline)) void some_code() { asm volatile(""); }
uintptr_t code_address() { return reinterpret_cast<uintptr_t>(&some_code); }

struct FamilyInstalled {
  FamilyInstalled() { install_failure_family(); }
  ~FamilyInstalled() { uninstall_failure_family(); }
};

std::unique_ptr<Exception> catch_failure(const std::function<void()>& body) {
  try {
    body();
  } catch (Exception* failure) {
    return std::unique_ptr<Exception>(failure);
  }
  return nullptr;
}

// --- Assertion failures --------------------------------------------------------

TEST(AssertionFailed, MessageNamesFileAndLine) {
  struct Row {
    int line;
    std::string message, file;
    int32_t source_line;
    std::string expected;
  };
  const Row rows[] = {
      {__LINE__, "", "unit1.cpp", 42, "Assertion failed (unit1.cpp, line 42)"},
      {__LINE__, "count > 0", "a.cpp", 7, "count > 0 (a.cpp, line 7)"},
      {__LINE__, "100%s done", "", -2147483647 - 1, "100%s done (, line -2147483648)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    auto assertion =
        catch_failure([&] { raise_assertion_failed(row.message, row.file, row.source_line); });
    ASSERT_NE(assertion, nullptr);
    EXPECT_STREQ(assertion->kind_name(), "EAssertionFailed");
    EXPECT_EQ(assertion->message(), row.expected);
    EXPECT_NE(assertion->location(), nullptr);
  }
}

// --- Runtime errors ------------------------------------------------------------

// What the program reports for each runtime error kind, and the exit status
// the fallback ends with when the family is not installed.
TEST(RuntimeError, ReportOfEachKind) {
  struct Row {
    int line;
    RuntimeError kind;
    const char* report;  // the report without its module name
    int32_t fallback_status;
  };
  const Row rows[] = {
      {__LINE__, RuntimeError::out_of_memory, "EOutOfMemory|Out of memory.", 203},
      {__LINE__, RuntimeError::invalid_pointer, "EInvalidPointer|Invalid pointer operation.", 204},
      {__LINE__, RuntimeError::int_divide_by_zero, "EDivByZero|Division by zero.", 200},
      {__LINE__, RuntimeError::range_check, "ERangeError|Range check error.", 201},
      {__LINE__, RuntimeError::int_overflow, "EIntOverflow|Integer overflow.", 215},
      {__LINE__, RuntimeError::float_invalid, "EInvalidOp|Invalid floating point operation.", 207},
      {__LINE__, RuntimeError::float_divide_by_zero, "EZeroDivide|Floating point division by zero.",
       200},
      {__LINE__, RuntimeError::float_overflow, "EOverflow|Floating point overflow.", 205},
      {__LINE__, RuntimeError::float_underflow, "EUnderflow|Floating point underflow.", 206},
      {__LINE__, RuntimeError::invalid_cast, "EInvalidCast|Invalid class typecast.", 219},
      {__LINE__, RuntimeError::access_violation, "EAccessViolation|Access violation.", 216},
      {__LINE__, RuntimeError::privileged_instruction, "EPrivilege|Privileged instruction.", 218},
      {__LINE__, RuntimeError::control_c, "EControlC|Control-C hit.", 217},
      {__LINE__, RuntimeError::stack_overflow, "EStackOverflow|Stack overflow.", 202},
      {__LINE__, RuntimeError::variant_conversion, "EVariantError|Invalid variant type conversion.",
       220},
      {__LINE__, RuntimeError::variant_operation, "EVariantError|Invalid variant operation.", 221},
      {__LINE__, RuntimeError::variant_method, "EVariantError|Variant method calls not supported.",
       222},
      {__LINE__, RuntimeError::variant_creation,
       "EVariantError|Error creating variant or safe array.", 223},
      {__LINE__, RuntimeError::variant_argument, "EVariantError|Invalid argument.", 224},
      {__LINE__, RuntimeError::variant_bounds,
       "EVariantError|Variant or safe array index out of bounds.", 225},
      {__LINE__, RuntimeError::assertion, "EAssertionFailed|Assertion failed.", 227},
      {__LINE__, RuntimeError::external, "EExternalException|", 255},
      {__LINE__, RuntimeError::interface_cast, "EIntfCastError|Interface not supported.", 228},
      {__LINE__, RuntimeError::safecall, "ESafecallException|Exception in safecall method.", 229},
      // A number outside the kinds counts as a platform exception.
      {__LINE__, static_cast<RuntimeError>(99), "EExternalException|", 255},
  };
  FamilyInstalled family;
  const void* here = reinterpret_cast<const void*>(code_address());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Exception* failure = nullptr;
    try {
      raise_runtime_error(row.kind, here);
    } catch (Exception* raised) {
      failure = raised;
    }
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->location(), here);
    const std::string report = row.report;
    const std::size_t bar = report.find('|');
    EXPECT_EQ(failure_text(*failure, nullptr),
              "Exception " + report.substr(0, bar) + " in module " + program_name() +
                  " at 00000000.\r\n" + report.substr(bar + 1) + "\r\n");
    EXPECT_EQ(runtime_error_number(row.kind), row.fallback_status);
    release_failure(failure);  // the prepared memory failures stay
  }
}

TEST(RuntimeError, IoKindTakesThePendingResult) {
  struct Row {
    int line;
    int32_t pending;
    const char* message;
    int32_t number;
  };
  const Row rows[] = {
      {__LINE__, 101, "Disk full", 101},
      {__LINE__, 105, "I/O error 105", 105},
      {__LINE__, 0x1234, "I/O error 4660", 0x34},
      {__LINE__, 0x100, "I/O error 256", 0},
  };
  FamilyInstalled family;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(runtime_error_number(RuntimeError::in_out, row.pending), row.number);
    restore_pending_io_result(row.pending);
    auto failure = catch_failure([] { raise_runtime_error(RuntimeError::in_out, nullptr); });
    ASSERT_NE(failure, nullptr);
    auto* io = dynamic_cast<EInOutError*>(failure.get());
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->error_code(), row.pending);
    EXPECT_EQ(io->message(), row.message);
    EXPECT_EQ(take_pending_io_result(), 0);
  }
}

TEST(RuntimeError, MemoryFailuresArePreparedOnce) {
  FamilyInstalled family;
  for (RuntimeError kind : {RuntimeError::out_of_memory, RuntimeError::invalid_pointer}) {
    SCOPED_TRACE(static_cast<int>(kind));
    Exception* first = nullptr;
    Exception* second = nullptr;
    try {
      raise_runtime_error(kind, reinterpret_cast<const void*>(0x1000));
    } catch (Exception* failure) {
      first = failure;
    }
    release_failure(first);  // refused: the object stays usable
    try {
      raise_runtime_error(kind, reinterpret_cast<const void*>(0x2000));
    } catch (Exception* failure) {
      second = failure;
    }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->location(), reinterpret_cast<const void*>(0x2000));
  }
}

TEST(RuntimeError, LineShape) {
  struct Row {
    int line;
    int32_t number;
    uintptr_t location;
    const char* expected;
  };
  const Row rows[] = {
      {__LINE__, 217, 0x1A2B, "Runtime error 217 at 00001A2B"},
      {__LINE__, 5, 0, "Runtime error   5 at 00000000"},
      {__LINE__, 42, 0xDEADBEEF, "Runtime error  42 at DEADBEEF"},
      {__LINE__, 0, 0x10, "Runtime error   0 at 00000010"},
      {__LINE__, 203, 0xFFFFFFFF, "Runtime error 203 at FFFFFFFF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    char line[kRuntimeErrorLineCapacity];
    std::size_t length = runtime_error_line(row.number, row.location, line);
    EXPECT_EQ(std::string(line, length), row.expected);
    EXPECT_EQ(length, 29u);
  }
}

// --- Platform exceptions -----------------------------------------------------

TEST(PlatformException, CodeTable) {
  struct Row {
    int line;
    uint32_t code;
    const char* name;
    const char* message;
    int32_t number;
  };
  const Row rows[] = {
      {__LINE__, code::kArrayBoundsExceeded, "ERangeError", "Range check error", 201},
      {__LINE__, code::kFloatDenormalOperand, "EUnderflow", "Floating point underflow", 206},
      {__LINE__, code::kFloatDivideByZero, "EZeroDivide", "Floating point division by zero", 200},
      {__LINE__, code::kFloatInexactResult, "EInvalidOp", "Invalid floating point operation", 207},
      {__LINE__, code::kFloatInvalidOperation, "EInvalidOp", "Invalid floating point operation",
       207},
      {__LINE__, code::kFloatOverflow, "EOverflow", "Floating point overflow", 205},
      {__LINE__, code::kFloatStackCheck, "EInvalidOp", "Invalid floating point operation", 207},
      {__LINE__, code::kFloatUnderflow, "EUnderflow", "Floating point underflow", 206},
      {__LINE__, code::kIntegerDivideByZero, "EDivByZero", "Division by zero", 200},
      {__LINE__, code::kIntegerOverflow, "EIntOverflow", "Integer overflow", 215},
      {__LINE__, code::kPrivilegedInstruction, "EPrivilege", "Privileged instruction", 218},
      {__LINE__, code::kStackOverflow, "EStackOverflow", "Stack overflow", 202},
      {__LINE__, code::kControlCExit, "EControlC", "Control-C hit", 217},
      {__LINE__, 0xC0001234, "EExternalException", "External exception C0001234", 255},
      {__LINE__, 0x80000003, "EExternalException", "External exception 80000003", 255},
      {__LINE__, 0x5, "EExternalException", "External exception 5", 255},
      {__LINE__, 0xE0000006, "EExternalException", "External exception E0000006", 255},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    platform::ExceptionRecord record;
    record.code = row.code;
    record.flags = 1;
    record.address = 0x4321;
    std::unique_ptr<Exception> failure(map_platform_exception(record));
    EXPECT_STREQ(failure->kind_name(), row.name);
    EXPECT_EQ(failure->message(), row.message);
    EXPECT_EQ(failure->location(), reinterpret_cast<const void*>(0x4321));
    auto* external = dynamic_cast<EExternal*>(failure.get());
    ASSERT_NE(external, nullptr);
    EXPECT_EQ(external->record().code, row.code);
    EXPECT_EQ(external->record().flags, 1u);
    EXPECT_EQ(platform_exception_number(row.code), row.number);
  }
}

TEST(PlatformException, AccessViolationMessage) {
  const std::string hex = "[0-9A-F]{8}([0-9A-F]{8})?";
  struct Row {
    int line;
    uintptr_t address;
    uint32_t parameter_count;
    uintptr_t access, data;
    std::string pattern;
  };
  const Row rows[] = {
      {__LINE__, code_address(), 2, 0, 0,
       "Access violation at address " + hex + " in module '" + program_name() +
           "'\\. Read of address 00000000"},
      {__LINE__, code_address(), 2, 1, 0x1234,
       "Access violation at address " + hex + " in module '" + program_name() +
           "'\\. Write of address 00001234"},
      {__LINE__, 0x10, 2, 8, 0xFFFFFFF0,
       "Access violation at address 00000010\\. Write of address FFFFFFF0"},
      {__LINE__, 0, 0, 0, 0, "Access violation at address 00000000\\. Read of address 00000000"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    platform::ExceptionRecord record;
    record.code = code::kAccessViolation;
    record.address = row.address;
    record.parameter_count = row.parameter_count;
    record.parameters[0] = row.access;
    record.parameters[1] = row.data;
    std::unique_ptr<Exception> failure(map_platform_exception(record));
    EXPECT_STREQ(failure->kind_name(), "EAccessViolation");
    EXPECT_TRUE(std::regex_match(failure->message(), std::regex(row.pattern)))
        << failure->message();
  }
}

// --- The report ----------------------------------------------------------------

TEST(FailureText, MessageAndEndMark) {
  struct Row {
    int line;
    std::string message;
    std::string second_line;
  };
  const Row rows[] = {
      {__LINE__, "'abc' is not a valid integer value", "'abc' is not a valid integer value."},
      {__LINE__, "Disk full.", "Disk full."},
      {__LINE__, "", ""},
      {__LINE__, ".", "."},
      {__LINE__, "ends with dots..", "ends with dots.."},
      {__LINE__, "caf\xE9", "caf\xE9."},
  };
  const std::string first =
      "Exception EConvertError in module " + program_name() + " at 00000000.\r\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EConvertError failure(row.message);
    EXPECT_EQ(failure_text(failure, nullptr), first + row.second_line + "\r\n");
  }
}

TEST(FailureText, LocationAndOffset) {
  struct Row {
    int line;
    uintptr_t location;
    std::string pattern;
  };
  const Row rows[] = {
      {__LINE__, 0, "at 00000000\\."},
      {__LINE__, 0x1010, "at 00000010\\."},  // in no module: against the program, minus 4096
      {__LINE__, 0x1000, "at 00000000\\."},
      {__LINE__, code_address(), "at [0-9A-F]{8}\\."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EDivByZero failure("Division by zero");
    std::string text = failure_text(failure, reinterpret_cast<const void*>(row.location));
    std::regex shape("Exception EDivByZero in module " + program_name() + " " + row.pattern +
                     "\r\nDivision by zero\\.\r\n");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
  }
  // Inside the program, the offset is the distance from the module's base:
  // two addresses a known distance apart give offsets the same distance apart.
  EDivByZero failure("x");
  std::string a = failure_text(failure, reinterpret_cast<const void*>(code_address()));
  std::string b = failure_text(failure, reinterpret_cast<const void*>(code_address() + 0x10));
  auto offset = [](const std::string& text) {
    std::size_t at = text.find(" at ");
    return std::stoul(text.substr(at + 4, 8), nullptr, 16);
  };
  EXPECT_EQ(offset(b) - offset(a), 0x10u);
  EXPECT_NE(offset(a), code_address() - 4096);
}

TEST(FailureText, CutAt1024Bytes) {
  struct Row {
    int line;
    std::size_t message_length;
    std::size_t expected_length;
  };
  const std::string first =
      "Exception EConvertError in module " + program_name() + " at 00000000.\r\n";
  const std::size_t fits = 1024 - first.size() - 3;  // message, ".", CR LF
  const Row rows[] = {
      {__LINE__, fits, 1024},
      {__LINE__, fits - 1, 1023},
      {__LINE__, fits + 1, 1024},
      {__LINE__, 5000, 1024},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EConvertError failure(std::string(row.message_length, 'x'));
    std::string text = failure_text(failure, nullptr);
    EXPECT_EQ(text.size(), row.expected_length);
    EXPECT_EQ(text, (first + failure.message() + ".\r\n").substr(0, 1024));
  }
}

// The fault handler builds its report without the failure object or the
// format engine; it must read exactly like the ordinary report.
TEST(FailureText, FaultReportMatchesOrdinaryReport) {
  const uint32_t codes[] = {
      code::kAccessViolation,     code::kArrayBoundsExceeded, code::kFloatDenormalOperand,
      code::kFloatDivideByZero,   code::kFloatInexactResult,  code::kFloatInvalidOperation,
      code::kFloatOverflow,       code::kFloatStackCheck,     code::kFloatUnderflow,
      code::kIntegerDivideByZero, code::kIntegerOverflow,     code::kPrivilegedInstruction,
      code::kStackOverflow,       code::kControlCExit,        0xC0001234};
  const uintptr_t addresses[] = {0, 0x1010, code_address()};
  for (uint32_t c : codes) {
    for (uintptr_t address : addresses) {
      SCOPED_TRACE(testing::Message() << std::hex << c << " at " << address);
      platform::ExceptionRecord record;
      record.code = c;
      record.address = address;
      record.parameter_count = 2;
      record.parameters[0] = 1;
      record.parameters[1] = 0x20;
      std::unique_ptr<Exception> failure(map_platform_exception(record));
      char text[kReportCapacity + 1];
      std::size_t length = fault_report_text(record, text);
      EXPECT_EQ(std::string(text, length), failure_text(*failure, failure->location()));
    }
  }
  const int32_t io_errors[] = {2, 3, 4, 5, 100, 101, 106, 105, 32, 0, -1};
  for (int32_t io : io_errors) {
    SCOPED_TRACE(io);
    EInOutError failure(io, in_out_error_message(io));
    char text[kReportCapacity + 1];
    std::size_t length = io_failure_report_text(io, reinterpret_cast<const void*>(0x1234), text);
    EXPECT_EQ(std::string(text, length),
              failure_text(failure, reinterpret_cast<const void*>(0x1234)));
  }
}

}  // namespace
