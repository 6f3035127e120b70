// parse_float on arbitrary bytes: either a value or EConvertError with the
// exact message; never a crash, an overread or a changed control word.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "failure/failure.h"
#include "float80/float80.h"
#include "number_text/parse.h"
#include "number_text/render.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

long double parse_or_fail(std::string_view text, const char* what) {
  try {
    return parse_float(text);
  } catch (Exception* failure) {
    delete failure;
    fail(what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const uint16_t control = x87_control_word();
  long double value = 0;
  bool parsed = false;
  try {
    value = parse_float(text);
    parsed = true;
  } catch (Exception* failure) {
    if (std::strcmp(failure->kind_name(), "EConvertError") != 0) fail("failure kind");
    if (failure->message() != "'" + std::string(text) + "' is not a valid floating point value") {
      fail("failure message");
    }
    delete failure;
  }
  if (x87_control_word() != control) fail("control word not restored");
  if (!parsed) return 0;
  if (std::isnan(value)) fail("NaN parsed");
  if (std::isinf(value)) fail("infinity parsed");
  // The sampler's rendering of the value parses back to the same text.
  if (std::fabs(value) < 1e4000L) {
    std::string rendered = render_float(value, FloatMode::fixed, 15, 5);
    long double again = parse_or_fail(rendered, "rendered text does not parse");
    if (render_float(again, FloatMode::fixed, 15, 5) != rendered) fail("render not stable");
  }
  // Every mode stays inside the work area.
  for (int mode = 0; mode <= 4; ++mode) {
    char out[kRenderFloatCapacity];
    for (int digits : {0, 3, 18}) {
      if (render_float_into(out, value, static_cast<FloatMode>(mode), 18, digits) > 64) {
        fail("text longer than the work area");
      }
    }
  }
  return 0;
}
