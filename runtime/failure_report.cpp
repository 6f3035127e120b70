#include "runtime/failure_report.h"

#include <cstring>
#include <string_view>

#include "number_text/format.h"
#include "number_text/integers.h"
#include "platform/faults.h"
#include "runtime/console_output.h"

namespace {

// Addresses are shown with eight hex digits; a 64-bit address that does not
// fit gets sixteen.
bool fits_32_bits(uintptr_t value) { return (static_cast<uint64_t>(value) >> 32) == 0; }

// Appends to a fixed area, cutting at its capacity; the fault handler's only
// formatter, so it must allocate nothing and call nothing that locks.
class FixedText {
 public:
  FixedText(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  void add(const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length && used_ < capacity_; ++i) buffer_[used_++] = text[i];
  }
  void add(const char* text) { add(text, std::strlen(text)); }
  void add_hex(uint64_t value, int digits) {
    char text[32];
    add(text, write_hex(text, value, digits));
  }
  // Eight digits while the value fits in 32 bits, sixteen beyond.
  void add_address(uintptr_t value) { add_hex(value, fits_32_bits(value) ? 8 : 16); }
  // Upper-case hexadecimal without leading zeros.
  void add_hex_short(uint32_t value) { add_hex(value, 0); }
  void add_decimal(int32_t value) {
    char text[12];
    int count = 0;
    uint32_t magnitude =
        value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
      text[sizeof text - 1 - count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) text[sizeof text - 1 - count++] = '-';
    add(text + sizeof text - count, static_cast<std::size_t>(count));
  }
  // Zero-ends the text; the length counts up to the first zero byte, as the
  // writers of a zero-ended text do.
  std::size_t finish() {
    buffer_[used_] = '\0';
    return std::strlen(buffer_);
  }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

template <class Kind>
Exception* make_failure(std::string message) {
  return new Kind(std::move(message));
}

struct RuntimeErrorRow {
  RuntimeError kind;
  const char* kind_name;
  const char* message;
  int32_t number;  // the fallback's runtime error number
  Exception* (*make)(std::string);
};

constexpr int32_t kUnknownExceptionNumber = 255;

// Indexed by the kind; kinds_in_order below keeps each row at its kind.
constexpr RuntimeErrorRow kRuntimeErrors[] = {
    {RuntimeError::in_out, "EInOutError", "", 0, nullptr},
    {RuntimeError::out_of_memory, "EOutOfMemory", "Out of memory", 203,
     &make_failure<EOutOfMemory>},
    {RuntimeError::invalid_pointer, "EInvalidPointer", "Invalid pointer operation", 204,
     &make_failure<EInvalidPointer>},
    {RuntimeError::int_divide_by_zero, "EDivByZero", "Division by zero", 200,
     &make_failure<EDivByZero>},
    {RuntimeError::range_check, "ERangeError", "Range check error", 201,
     &make_failure<ERangeError>},
    {RuntimeError::int_overflow, "EIntOverflow", "Integer overflow", 215,
     &make_failure<EIntOverflow>},
    {RuntimeError::float_invalid, "EInvalidOp", "Invalid floating point operation", 207,
     &make_failure<EInvalidOp>},
    {RuntimeError::float_divide_by_zero, "EZeroDivide", "Floating point division by zero", 200,
     &make_failure<EZeroDivide>},
    {RuntimeError::float_overflow, "EOverflow", "Floating point overflow", 205,
     &make_failure<EOverflow>},
    {RuntimeError::float_underflow, "EUnderflow", "Floating point underflow", 206,
     &make_failure<EUnderflow>},
    {RuntimeError::invalid_cast, "EInvalidCast", "Invalid class typecast", 219,
     &make_failure<EInvalidCast>},
    {RuntimeError::access_violation, "EAccessViolation", "Access violation", 216,
     &make_failure<EAccessViolation>},
    {RuntimeError::privileged_instruction, "EPrivilege", "Privileged instruction", 218,
     &make_failure<EPrivilege>},
    {RuntimeError::control_c, "EControlC", "Control-C hit", 217, &make_failure<EControlC>},
    {RuntimeError::stack_overflow, "EStackOverflow", "Stack overflow", 202,
     &make_failure<EStackOverflow>},
    {RuntimeError::variant_conversion, "EVariantError", "Invalid variant type conversion", 220,
     &make_failure<EVariantError>},
    {RuntimeError::variant_operation, "EVariantError", "Invalid variant operation", 221,
     &make_failure<EVariantError>},
    {RuntimeError::variant_method, "EVariantError", "Variant method calls not supported", 222,
     &make_failure<EVariantError>},
    {RuntimeError::variant_creation, "EVariantError", "Error creating variant or safe array", 223,
     &make_failure<EVariantError>},
    {RuntimeError::variant_argument, "EVariantError", "Invalid argument", 224,
     &make_failure<EVariantError>},
    {RuntimeError::variant_bounds, "EVariantError", "Variant or safe array index out of bounds",
     225, &make_failure<EVariantError>},
    {RuntimeError::assertion, "EAssertionFailed", "Assertion failed", 227,
     &make_failure<EAssertionFailed>},
    {RuntimeError::external, "EExternalException", "", kUnknownExceptionNumber,
     &make_failure<EExternalException>},
    {RuntimeError::interface_cast, "EIntfCastError", "Interface not supported", 228,
     &make_failure<EIntfCastError>},
    {RuntimeError::safecall, "ESafecallException", "Exception in safecall method", 229,
     &make_failure<ESafecallException>},
};

constexpr bool kinds_in_order() {
  int32_t index = 0;
  for (const RuntimeErrorRow& row : kRuntimeErrors) {
    if (static_cast<int32_t>(row.kind) != index++) return false;
  }
  return true;
}
static_assert(kinds_in_order(), "each runtime error row must sit at its kind");

// A kind outside the enumeration (a cast from a bad number) counts as a
// platform exception without kind of its own.
const RuntimeErrorRow& row_of(RuntimeError kind) {
  auto index = static_cast<std::size_t>(kind);
  if (index >= sizeof kRuntimeErrors / sizeof kRuntimeErrors[0])
    index = static_cast<std::size_t>(RuntimeError::external);
  return kRuntimeErrors[index];
}

struct PlatformException {
  uint32_t code;
  RuntimeError kind;
};

const PlatformException kPlatformExceptions[] = {
    {platform::fault_code::kAccessViolation, RuntimeError::access_violation},
    {platform::fault_code::kArrayBoundsExceeded, RuntimeError::range_check},
    {platform::fault_code::kFloatDenormalOperand, RuntimeError::float_underflow},
    {platform::fault_code::kFloatDivideByZero, RuntimeError::float_divide_by_zero},
    {platform::fault_code::kFloatInexactResult, RuntimeError::float_invalid},
    {platform::fault_code::kFloatInvalidOperation, RuntimeError::float_invalid},
    {platform::fault_code::kFloatOverflow, RuntimeError::float_overflow},
    {platform::fault_code::kFloatStackCheck, RuntimeError::float_invalid},
    {platform::fault_code::kFloatUnderflow, RuntimeError::float_underflow},
    {platform::fault_code::kIntegerDivideByZero, RuntimeError::int_divide_by_zero},
    {platform::fault_code::kIntegerOverflow, RuntimeError::int_overflow},
    {platform::fault_code::kPrivilegedInstruction, RuntimeError::privileged_instruction},
    {platform::fault_code::kStackOverflow, RuntimeError::stack_overflow},
    {platform::fault_code::kControlCExit, RuntimeError::control_c},
};

RuntimeError platform_kind(uint32_t code) {
  for (const PlatformException& row : kPlatformExceptions) {
    if (row.code == code) return row.kind;
  }
  return RuntimeError::external;
}

constexpr std::size_t kPathCapacity = 261;

const char* file_name_part(const char* path, bool colon_too) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (platform::is_path_separator(*p) || (colon_too && *p == ':')) name = p + 1;
  }
  return name;
}

// The module that holds `location` and the offset within it; a location in
// no module counts against the program itself.
uintptr_t locate(uintptr_t location, char* path) {
  uintptr_t base = 0;
  if (platform::find_module(location, path, kPathCapacity, &base)) return location - base;
  platform::program_path(path, kPathCapacity);
  return location == 0 ? 0 : location - 4096;
}

std::size_t platform_message(const platform::ExceptionRecord& record, char* buffer,
                             std::size_t capacity) {
  FixedText text(buffer, capacity);
  if (record.code == platform::fault_code::kAccessViolation) {
    const char* access =
        record.parameter_count >= 1 && record.parameters[0] != 0 ? "Write" : "Read";
    uintptr_t data = record.parameter_count >= 2 ? record.parameters[1] : 0;
    char path[kPathCapacity];
    uintptr_t base = 0;
    text.add("Access violation at address ");
    text.add_address(record.address);
    if (platform::find_module(record.address, path, sizeof path, &base)) {
      text.add(" in module '");
      text.add(file_name_part(path, true));
      text.add("'");
    }
    text.add(". ");
    text.add(access);
    text.add(" of address ");
    text.add_address(data);
  } else {
    RuntimeError kind = platform_kind(record.code);
    if (kind == RuntimeError::external) {
      text.add("External exception ");
      text.add_hex_short(record.code);
    } else {
      text.add(row_of(kind).message);
    }
  }
  return text.finish();
}

// The report without format_into_buffer, for the fault handler.
std::size_t fixed_report_text(const char* kind_name, const char* message,
                              std::size_t message_length, uintptr_t location, char* buffer) {
  char path[kPathCapacity];
  uintptr_t offset = locate(location, path);
  FixedText text(buffer, kReportCapacity);
  text.add("Exception ");
  text.add(kind_name);
  text.add(" in module ");
  text.add(file_name_part(path, false));
  text.add(" at ");
  text.add_address(offset);
  text.add(".\r\n");
  text.add(message, message_length);
  if (message_length != 0 && message[message_length - 1] != '.') text.add(".");
  text.add("\r\n");
  return text.finish();
}

}  // namespace

int32_t runtime_error_number(RuntimeError kind, int32_t io_error) {
  if (kind == RuntimeError::in_out) return io_error & 0xFF;
  return row_of(kind).number;
}

int32_t platform_exception_number(uint32_t code) { return row_of(platform_kind(code)).number; }

Exception* make_runtime_failure(RuntimeError kind, int32_t io_error) {
  if (kind == RuntimeError::in_out)
    return new EInOutError(io_error, in_out_error_message(io_error));
  const RuntimeErrorRow& row = row_of(kind);
  return row.make(row.message);
}

Exception* map_platform_exception(const platform::ExceptionRecord& record) {
  char message[kReportCapacity + 1];
  std::size_t length = platform_message(record, message, kReportCapacity);
  Exception* failure = row_of(platform_kind(record.code)).make(std::string(message, length));
  if (auto* external = dynamic_cast<EExternal*>(failure)) external->set_record(record);
  failure->set_location(reinterpret_cast<const void*>(record.address));
  return failure;
}

std::size_t failure_text(const Exception& failure, const void* location, char* buffer) {
  char path[kPathCapacity];
  uintptr_t offset = locate(reinterpret_cast<uintptr_t>(location), path);
  const std::string& message = failure.message();
  const char* end_mark = !message.empty() && message.back() != '.' ? "." : "";
  FormatArg args[] = {FormatArg::ztext(failure.kind_name()),
                      FormatArg::ztext(file_name_part(path, false)),
                      FormatArg::pointer(static_cast<uint32_t>(offset)), FormatArg::text(message),
                      FormatArg::ztext(end_mark)};
  const char* shape = "Exception %s in module %s at %p.\r\n%s%s\r\n";
  char wide[17];
  if (!fits_32_bits(offset)) {
    // A 64-bit offset does not fit the format's pointer: give it as text.
    FixedText text(wide, 16);
    text.add_address(offset);
    text.finish();
    args[2] = FormatArg::ztext(wide);
    shape = "Exception %s in module %s at %s.\r\n%s%s\r\n";
  }
  format_into_buffer(buffer, kReportCapacity, shape, FormatArgs(args, 5));
  return std::strlen(buffer);
}

std::string failure_text(const Exception& failure, const void* location) {
  char buffer[kReportCapacity + 1];
  std::size_t length = failure_text(failure, location, buffer);
  return std::string(buffer, length);
}

std::size_t fault_report_text(const platform::ExceptionRecord& record, char* buffer) {
  char message[kReportCapacity + 1];
  std::size_t length = platform_message(record, message, kReportCapacity);
  return fixed_report_text(row_of(platform_kind(record.code)).kind_name, message, length,
                           record.address, buffer);
}

std::size_t io_failure_report_text(int32_t io_error, const void* location, char* buffer) {
  char message[32];
  FixedText text(message, sizeof message - 1);
  if (const char* words = in_out_error_words(io_error)) {
    text.add(words);
  } else {
    text.add("I/O error ");
    text.add_decimal(io_error);
  }
  std::size_t length = text.finish();
  return fixed_report_text("EInOutError", message, length, reinterpret_cast<uintptr_t>(location),
                           buffer);
}

std::size_t runtime_error_line(int32_t number, uintptr_t location, char* line) {
  static constexpr char kShape[] = "Runtime error     at ";
  std::memcpy(line, kShape, sizeof kShape - 1);
  uint32_t value = static_cast<uint32_t>(number);
  // The number's last digit is the 17th character; it has three places.
  for (int i = 16; i >= 14; --i) {
    line[i] = static_cast<char>('0' + value % 10);
    value /= 10;
    if (value == 0) break;
  }
  FixedText text(line + sizeof kShape - 1, kRuntimeErrorLineCapacity - sizeof kShape);
  text.add_address(location);
  return sizeof kShape - 1 + text.finish();
}
