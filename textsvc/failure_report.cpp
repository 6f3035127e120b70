#include "textsvc/failure_report.h"

#include <cstring>
#include <string_view>

#include "platform/console.h"
#include "platform/faults.h"
#include "textsvc/console_output.h"
#include "textsvc/format.h"
#include "textsvc/program.h"

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
    char text[16];
    for (int i = digits - 1; i >= 0; --i) {
      text[i] = "0123456789ABCDEF"[value & 15];
      value >>= 4;
    }
    add(text, static_cast<std::size_t>(digits));
  }
  // Eight digits while the value fits in 32 bits, sixteen beyond.
  void add_address(uintptr_t value) { add_hex(value, fits_32_bits(value) ? 8 : 16); }
  // Upper-case hexadecimal without leading zeros.
  void add_hex_short(uint32_t value) {
    int digits = 1;
    while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
    add_hex(value, digits);
  }
  void add_decimal(int32_t value) {
    char text[12];
    int n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
      text[sizeof text - 1 - n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) text[sizeof text - 1 - n++] = '-';
    add(text + sizeof text - n, static_cast<std::size_t>(n));
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

struct RuntimeErrorKind {
  const char* kind_name;
  const char* message;
  int32_t number;  // the fallback's runtime error number
  Exception* (*make)(std::string);
};

constexpr int32_t kIoKind = 0;
constexpr int32_t kExternalKind = 22;
constexpr int32_t kUnknownNumber = 255;

const RuntimeErrorKind kRuntimeErrorKinds[] = {
    {"EInOutError", "", 0, nullptr},  // message and number from the I/O error number
    {"EOutOfMemory", "Out of memory", 203, &make_failure<EOutOfMemory>},
    {"EInvalidPointer", "Invalid pointer operation", 204, &make_failure<EInvalidPointer>},
    {"EDivByZero", "Division by zero", 200, &make_failure<EDivByZero>},
    {"ERangeError", "Range check error", 201, &make_failure<ERangeError>},
    {"EIntOverflow", "Integer overflow", 215, &make_failure<EIntOverflow>},
    {"EInvalidOp", "Invalid floating point operation", 207, &make_failure<EInvalidOp>},
    {"EZeroDivide", "Floating point division by zero", 200, &make_failure<EZeroDivide>},
    {"EOverflow", "Floating point overflow", 205, &make_failure<EOverflow>},
    {"EUnderflow", "Floating point underflow", 206, &make_failure<EUnderflow>},
    {"EInvalidCast", "Invalid class typecast", 219, &make_failure<EInvalidCast>},
    {"EAccessViolation", "Access violation", 216, &make_failure<EAccessViolation>},
    {"EPrivilege", "Privileged instruction", 218, &make_failure<EPrivilege>},
    {"EControlC", "Control-C hit", 217, &make_failure<EControlC>},
    {"EStackOverflow", "Stack overflow", 202, &make_failure<EStackOverflow>},
    {"EVariantError", "Invalid variant type conversion", 220, &make_failure<EVariantError>},
    {"EVariantError", "Invalid variant operation", 221, &make_failure<EVariantError>},
    {"EVariantError", "Variant method calls not supported", 222, &make_failure<EVariantError>},
    {"EVariantError", "Error creating variant or safe array", 223, &make_failure<EVariantError>},
    {"EVariantError", "Invalid argument", 224, &make_failure<EVariantError>},
    {"EVariantError", "Variant or safe array index out of bounds", 225, &make_failure<EVariantError>},
    {"EAssertionFailed", "Assertion failed", 227, &make_failure<EAssertionFailed>},
    {"EExternalException", "", kUnknownNumber, &make_failure<EExternalException>},
    {"EIntfCastError", "Interface not supported", 228, &make_failure<EIntfCastError>},
    {"ESafecallException", "Exception in safecall method", 229, &make_failure<ESafecallException>},
};
constexpr int32_t kKindCount = static_cast<int32_t>(sizeof kRuntimeErrorKinds / sizeof kRuntimeErrorKinds[0]);

struct PlatformException {
  uint32_t code;
  int32_t kind;
};

const PlatformException kPlatformExceptions[] = {
    {platform::fault_code::access_violation, 11},
    {platform::fault_code::array_bounds_exceeded, 4},
    {platform::fault_code::float_denormal_operand, 9},
    {platform::fault_code::float_divide_by_zero, 7},
    {platform::fault_code::float_inexact_result, 6},
    {platform::fault_code::float_invalid_operation, 6},
    {platform::fault_code::float_overflow, 8},
    {platform::fault_code::float_stack_check, 6},
    {platform::fault_code::float_underflow, 9},
    {platform::fault_code::integer_divide_by_zero, 3},
    {platform::fault_code::integer_overflow, 5},
    {platform::fault_code::privileged_instruction, 12},
    {platform::fault_code::stack_overflow, 14},
    {platform::fault_code::control_c_exit, 13},
};

int32_t platform_kind(uint32_t code) {
  for (const PlatformException& row : kPlatformExceptions) {
    if (row.code == code) return row.kind;
  }
  return kExternalKind;
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

std::size_t platform_message(const platform::ExceptionRecord& record, char* buffer, std::size_t capacity) {
  FixedText text(buffer, capacity);
  if (record.code == platform::fault_code::access_violation) {
    const char* access = record.parameter_count >= 1 && record.parameters[0] != 0 ? "Write" : "Read";
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
    int32_t kind = platform_kind(record.code);
    if (kind == kExternalKind) {
      text.add("External exception ");
      text.add_hex_short(record.code);
    } else {
      text.add(kRuntimeErrorKinds[kind].message);
    }
  }
  return text.finish();
}

// The report without format_into_buffer, for the fault handler.
std::size_t fixed_report_text(const char* kind_name, const char* message, std::size_t message_length,
                              uintptr_t location, char* buffer) {
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

bool installed = false;
EOutOfMemory* prepared_out_of_memory = nullptr;
EInvalidPointer* prepared_invalid_pointer = nullptr;

}  // namespace

int32_t runtime_error_number(int32_t kind, int32_t io_error) {
  if (kind == kIoKind) return io_error & 0xFF;
  if (kind < 0 || kind >= kKindCount) return kUnknownNumber;
  return kRuntimeErrorKinds[kind].number;
}

int32_t platform_exception_number(uint32_t code) {
  return kRuntimeErrorKinds[platform_kind(code)].number;
}

void raise_runtime_error(int32_t kind, const void* location) {
  if (!installed) end_with_runtime_error(runtime_error_number(kind, pending_io_result), location);
  if (kind == kIoKind) {
    int32_t number = pending_io_result;
    pending_io_result = 0;
    raise_failure(new EInOutError(number, in_out_error_message(number)), location);
  }
  if (kind == 1) raise_failure(prepared_out_of_memory, location);
  if (kind == 2) raise_failure(prepared_invalid_pointer, location);
  if (kind < 0 || kind >= kKindCount) kind = kExternalKind;
  const RuntimeErrorKind& row = kRuntimeErrorKinds[kind];
  raise_failure(row.make(row.message), location);
}

Exception* map_platform_exception(const platform::ExceptionRecord& record) {
  char message[kReportCapacity + 1];
  std::size_t length = platform_message(record, message, kReportCapacity);
  Exception* failure = kRuntimeErrorKinds[platform_kind(record.code)].make(std::string(message, length));
  if (auto* external = dynamic_cast<EExternal*>(failure)) external->set_record(record);
  failure->set_location(reinterpret_cast<const void*>(record.address));
  return failure;
}

std::size_t failure_text(const Exception& failure, const void* location, char* buffer) {
  char path[kPathCapacity];
  uintptr_t offset = locate(reinterpret_cast<uintptr_t>(location), path);
  const std::string& message = failure.message();
  const char* end_mark = !message.empty() && message.back() != '.' ? "." : "";
  FormatArg args[] = {FormatArg::ztext(failure.kind_name()), FormatArg::ztext(file_name_part(path, false)),
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
  return fixed_report_text(kRuntimeErrorKinds[platform_kind(record.code)].kind_name, message, length,
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
  return fixed_report_text("EInOutError", message, length, reinterpret_cast<uintptr_t>(location), buffer);
}

void write_report(char* text, std::size_t length) {
  platform::convert_to_oem(text, length);
  platform::write_std_error(text, static_cast<uint32_t>(length));
  platform::write_std_error("\r\n", 2);
}

void report_failure(const Exception& failure, const void* location) {
  // Fixed storage: reporting an exhausted heap must not need the heap.
  static char report[kReportCapacity + 1];
  std::size_t length = failure_text(failure, location, report);
  flush_output();
  check_io();
  if (!console_flag) {
    platform::show_message_box(report, "Application Error");
    return;
  }
  write_report(report, length);
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

void write_runtime_error_line(int32_t number, uintptr_t location) {
  if (console_output_has_pending_bytes()) {
    // A failure of this write-out is ignored: the line follows regardless.
    int32_t pending = pending_io_result;
    flush_output();
    pending_io_result = pending;
  }
  char line[kRuntimeErrorLineCapacity];
  std::size_t length = runtime_error_line(number, location, line);
  platform::ConsoleCalls& calls = platform::console_calls();
  platform::FileHandle handle = calls.std_output_handle();
  if (handle == platform::kInvalidHandle) return;
  uint32_t written = 0;
  calls.write_file(handle, line, static_cast<uint32_t>(length), &written);
  calls.write_file(handle, "\r\n", 2, &written);
}

void install_failure_family() {
  if (installed) return;
  prepared_out_of_memory = new EOutOfMemory("Out of memory");
  prepared_out_of_memory->set_allow_release(false);
  prepared_invalid_pointer = new EInvalidPointer("Invalid pointer operation");
  prepared_invalid_pointer->set_allow_release(false);
  installed = true;
}

void uninstall_failure_family() {
  if (!installed) return;
  installed = false;
  prepared_out_of_memory->set_allow_release(true);
  release_failure(prepared_out_of_memory);
  prepared_out_of_memory = nullptr;
  prepared_invalid_pointer->set_allow_release(true);
  release_failure(prepared_invalid_pointer);
  prepared_invalid_pointer = nullptr;
}

bool failure_family_installed() { return installed; }
