// Scaling by powers of ten in the extended format: x times 10^n through the
// powers of ten correctly rounded to the format (power_tables.inc, written
// by tools/gen_power_tables.py), at most three multiplications, or
// divisions for negative n. The rendering and the parsing of number text
// both scale this way.
//
//   scale_by_power_of_ten(1.5L, 3)      -> 1500.0L
//   scale_by_power_of_ten(1.0L, 5120)   -> infinity;  (1.0L, -5120) -> 0
#pragma once

#include <array>
#include <cstddef>
#include <utility>

#include "float80/float80.h"

// x times 10^n, every step rounded to the full 64-bit significand whatever
// precision the caller runs the unit at; n >= 5120 gives infinity, n <=
// -5120 gives 0. Never fails.
long double scale_by_power_of_ten(long double x, int n);

// scale_power: the same on the working format, for the conversions, which
// run it inside their own Float80Scope or Float80FlagScope.
namespace power_scale {

#include "number_text/power_tables.inc"

// scale_power saturates from here on (the tables reach 10^5119).
constexpr int kScaleLimit = 5120;

// The power tables in the working format; where that is the hardware's
// own, the compiler takes them as they are.
template <std::size_t N, std::size_t... I>
constexpr std::array<Float80, N> working_table(const long double (&table)[N],
                                               std::index_sequence<I...>) {
  return {{to_float80(table[I])...}};
}
template <std::size_t N>
constexpr std::array<Float80, N> working_table(const long double (&table)[N]) {
  return working_table(table, std::make_index_sequence<N>());
}
inline const std::array<Float80, 32> kT1 = working_table(kPowersT1);
inline const std::array<Float80, 16> kT2 = working_table(kPowersT2);
inline const std::array<Float80, 10> kT3 = working_table(kPowersT3);

}  // namespace power_scale

// The scaling itself, inlined where the conversion runs.
__attribute__((always_inline)) inline Float80 scale_power(Float80 x, int n) {
  using namespace power_scale;
  if (n == 0) return x;
  if (n >= kScaleLimit) return float80_infinity();
  if (n <= -kScaleLimit) return Float80(0);
  unsigned m = n < 0 ? -static_cast<unsigned>(n) : static_cast<unsigned>(n);
  unsigned mid = (m >> 5) & 15;
  unsigned high = m >> 9;
  // Negative powers divide by the exact-as-possible table entries; a
  // multiplication by a rounded reciprocal would add an error of its own.
  if (n > 0) {
    x *= kT1[m & 31];
    if (mid != 0) x *= kT2[mid];
    if (high != 0) x *= kT3[high];
  } else {
    x /= kT1[m & 31];
    if (mid != 0) x /= kT2[mid];
    if (high != 0) x /= kT3[high];
  }
  return x;
}
