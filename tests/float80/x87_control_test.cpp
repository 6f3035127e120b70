// The x87 control and status words around the number text: whatever the
// caller runs the unit with, the conversions round at 64 bits to nearest
// and hand the caller's control word back with no flag left raised.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "failure/failure.h"
#include "float80/float80.h"
#include "number_text/parse.h"
#include "number_text/power_scale.h"
#include "number_text/render.h"

namespace {

constexpr FloatMode G = FloatMode::general;

TEST(X87Control, ScalingRoundsToTheFullSignificandAtAnyCallerPrecision) {
  const uint16_t saved = x87_control_word();
  // 53-bit precision, rounding down: a caller that would lose the low bits.
  const uint16_t caller = static_cast<uint16_t>((saved & ~0x0F00) | 0x0600);
  x87_load_control_word(caller);
  const uint64_t up = float80_bits(scale_by_power_of_ten(3, 27)).significand;
  const uint64_t down = float80_bits(scale_by_power_of_ten(1, -1)).significand;
  const uint16_t after = x87_control_word();
  x87_load_control_word(saved);
  EXPECT_EQ(up, 0x9B18AB5DF7180B6Cull);    // 3 * 10^27 to nearest
  EXPECT_EQ(down, 0xCCCCCCCCCCCCCCCDull);  // 1 / 10 to nearest
  EXPECT_EQ(after, caller);
}

TEST(X87Control, ParseRunsInExtendedPrecisionAndRestoresTheControlWord) {
  const uint16_t saved = x87_control_word();
  // 53-bit precision, overflow unmasked: what a foreign caller might run with.
  const uint16_t caller = static_cast<uint16_t>((saved & ~0x0F3F) | 0x0237);
  x87_load_control_word(caller);
  long double parsed = parse_float("9223372036854775807");
  uint16_t after_success = x87_control_word();
  uint16_t status_after_success = x87_status_word() & 0x3F;
  std::string rendered = render_float(parsed, G, 18, 0);
  uint16_t after_render = x87_control_word();
  bool raised = false;
  try {
    parse_float("1E4999");
  } catch (Exception* failure) {
    raised = true;
    delete failure;
  }
  uint16_t after_failure = x87_control_word();
  uint16_t status_after_failure = x87_status_word() & 0x3F;
  x87_load_control_word(saved);

  EXPECT_EQ(parsed, 9223372036854775807.0L);
  EXPECT_EQ(rendered, "9.22337203685477581E18");
  EXPECT_EQ(after_success, caller);
  EXPECT_EQ(after_render, caller);
  EXPECT_EQ(after_failure, caller);
  EXPECT_TRUE(raised);
  EXPECT_EQ(status_after_success, 0);
  EXPECT_EQ(status_after_failure, 0);
}

}  // namespace
