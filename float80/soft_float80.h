// The x87 80-bit extended format computed in software, for processors
// without the x87 unit. Every operation gives the bits the x87 unit gives
// with all exceptions masked, round to nearest (ties to even) and a 64-bit
// significand, and raises the same invalid-operation, divide-by-zero and
// overflow flags (sticky, per thread, read with soft_float80_status()).
//
// Encodings as the unit takes them: the significand carries an explicit
// integer bit; a non-zero exponent without that bit (unnormal, pseudo-NaN,
// pseudo-infinity) is an invalid operand and gives the default NaN
// (sign set, exponent 0x7FFF, significand 0xC000000000000000); a zero
// exponent with it (pseudo-denormal) counts as a denormal. A signaling NaN
// operand raises invalid operation and comes back quiet; of two NaN
// operands the larger significand wins.
//
// Limits: conversions from 64-bit integers and from doubles are exact;
// to_int64_nearest gives 0x8000000000000000 (and invalid operation) for
// NaN, infinity and anything outside the 64-bit range; to_double rounds
// once, to nearest, and overflows to infinity.
//
//   SoftFloat80 third = SoftFloat80(1) / SoftFloat80(3);
//   // third.significand == 0xAAAAAAAAAAAAAAAB, third.sign_exponent == 0x3FFD
#pragma once

#include <concepts>
#include <cstdint>
#include <type_traits>

// Status bits, at the positions of the x87 status word.
constexpr uint16_t kSoftFloat80Invalid = 0x0001;
constexpr uint16_t kSoftFloat80DivideByZero = 0x0004;
constexpr uint16_t kSoftFloat80Overflow = 0x0008;

struct SoftFloat80 {
  uint64_t significand = 0;    // explicit integer bit in bit 63
  uint16_t sign_exponent = 0;  // sign in bit 15, biased exponent below

  constexpr SoftFloat80() = default;
  template <std::integral T>
  constexpr SoftFloat80(T v) {  // NOLINT: exact, as the unit's integer load
    if constexpr (std::is_signed_v<T>) {
      if (v < 0) {
        *this = from_magnitude(true, 0 - static_cast<uint64_t>(v));
        return;
      }
    }
    *this = from_magnitude(false, static_cast<uint64_t>(v));
  }
  explicit SoftFloat80(double v);

  static constexpr SoftFloat80 from_bits(uint64_t significand, uint16_t sign_exponent) {
    SoftFloat80 x;
    x.significand = significand;
    x.sign_exponent = sign_exponent;
    return x;
  }

  explicit operator double() const;
  // Rounded to the nearest integer, ties to even.
  int64_t to_int64_nearest() const;

  SoftFloat80 operator-() const { return from_bits(significand, sign_exponent ^ 0x8000u); }

 private:
  static constexpr SoftFloat80 from_magnitude(bool negative, uint64_t m) {
    if (m == 0) return from_bits(0, negative ? 0x8000u : 0u);
    const int lead = 63 - __builtin_clzll(m);
    return from_bits(m << (63 - lead),
                     static_cast<uint16_t>((negative ? 0x8000u : 0u) | (16383u + lead)));
  }
};

SoftFloat80 operator+(SoftFloat80 a, SoftFloat80 b);
SoftFloat80 operator-(SoftFloat80 a, SoftFloat80 b);
SoftFloat80 operator*(SoftFloat80 a, SoftFloat80 b);
SoftFloat80 operator/(SoftFloat80 a, SoftFloat80 b);
inline SoftFloat80& operator+=(SoftFloat80& a, SoftFloat80 b) { return a = a + b; }
inline SoftFloat80& operator-=(SoftFloat80& a, SoftFloat80 b) { return a = a - b; }
inline SoftFloat80& operator*=(SoftFloat80& a, SoftFloat80 b) { return a = a * b; }
inline SoftFloat80& operator/=(SoftFloat80& a, SoftFloat80 b) { return a = a / b; }

// -1 less, 0 equal, 1 greater, 2 unordered (a NaN or an invalid operand);
// compares raise no flag.
int soft_float80_compare(SoftFloat80 a, SoftFloat80 b);
inline bool operator<(SoftFloat80 a, SoftFloat80 b) { return soft_float80_compare(a, b) == -1; }
inline bool operator>(SoftFloat80 a, SoftFloat80 b) { return soft_float80_compare(a, b) == 1; }
inline bool operator<=(SoftFloat80 a, SoftFloat80 b) {
  const int c = soft_float80_compare(a, b);
  return c == -1 || c == 0;
}
inline bool operator>=(SoftFloat80 a, SoftFloat80 b) {
  const int c = soft_float80_compare(a, b);
  return c == 1 || c == 0;
}
inline bool operator==(SoftFloat80 a, SoftFloat80 b) { return soft_float80_compare(a, b) == 0; }

uint16_t soft_float80_status();
void soft_float80_clear_status();

// IEEE binary128 (113-bit significand) to and from the extended format: the
// wider format holds every extended value exactly; the other way rounds.
SoftFloat80 soft_float80_from_binary128(unsigned __int128 bits);
unsigned __int128 soft_float80_to_binary128(SoftFloat80 x);
