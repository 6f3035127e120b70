// scan_int and parse_int on arbitrary bytes: both agree, failures carry the
// exact message, and every accepted value reads back from its own text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "failure/failure.h"
#include "number_text/integers.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ScanIntResult scanned = scan_int(text);
  try {
    int32_t value = parse_int(text);
    if (!scanned.ok) fail("parse_int accepted what scan_int rejected");
    if (value != scanned.value) fail("parse_int and scan_int disagree");
  } catch (Exception* failure) {
    if (scanned.ok) fail("parse_int rejected what scan_int accepted");
    if (std::strcmp(failure->kind_name(), "EConvertError") != 0) fail("failure kind");
    if (failure->message() != "'" + std::string(text) + "' is not a valid integer value") {
      fail("failure message");
    }
    delete failure;
  }
  if (parse_int_or_default(text, 12345) != (scanned.ok ? scanned.value : 12345)) {
    fail("parse_int_or_default");
  }
  if (scanned.ok) {
    ScanIntResult decimal = scan_int(std::to_string(scanned.value));
    if (!decimal.ok || decimal.value != scanned.value) fail("decimal text does not read back");
    std::string hex = "$" + int_to_hex(static_cast<uint32_t>(scanned.value), 8);
    ScanIntResult from_hex = scan_int(hex);
    if (!from_hex.ok || from_hex.value != scanned.value) fail("hex text does not read back");
  }
  return 0;
}
