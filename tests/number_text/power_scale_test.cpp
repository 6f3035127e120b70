#include "number_text/power_scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "tests/number_text/number_text_fixture.h"

namespace {

TEST_F(NumberText, ScalesWithTheCorrectlyRoundedPowers) {
  // Powers up to 10^27 are exact: check them against integer products.
  long double exact = 1;
  for (int k = 0; k <= 27; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(scale_by_power_of_ten(1, k), exact);
    EXPECT_EQ(scale_by_power_of_ten(exact, -k), 1);
    exact *= 10;  // exact: 10^k = 2^k * 5^k and 5^27 < 2^64
  }
  // Rounded entries with their known bit patterns: 10^28 (the first that
  // needs more than 64 bits), 10^32, 10^512 and 10^4608 (the largest).
  struct Row {
    int line;
    int power;
    uint64_t significand;
    uint16_t exponent;
  };
  const Row rows[] = {
      {__LINE__, 28, 0x813F3978F8940984ull, 16383 + 93},
      {__LINE__, 32, 0x9DC5ADA82B70B59Eull, 16383 + 106},
      {__LINE__, 512, 0xE319A0AEA60E91C7ull, 16383 + 1700},
      {__LINE__, 4608, 0xAE3511626ED559F0ull, 16383 + 15307},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Float80Bits bits = float80_bits(scale_by_power_of_ten(1, row.power));
    EXPECT_EQ(bits.significand, row.significand);
    EXPECT_EQ(bits.sign_exponent, row.exponent);
  }
  EXPECT_EQ(scale_by_power_of_ten(7, 0), 7);
  EXPECT_EQ(scale_by_power_of_ten(0, 5120), kInf);
  EXPECT_EQ(scale_by_power_of_ten(kInf, -5120), 0);
  EXPECT_EQ(scale_by_power_of_ten(1, 4933), kInf);
  EXPECT_TRUE(std::isfinite(scale_by_power_of_ten(1, 4932)));
}

}  // namespace
