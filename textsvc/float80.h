// Bit access to the x87 80-bit extended format, and the x87 control and
// status words.
//
//   Float80Bits b = float80_bits(1.0L);
//   // b.significand == 0x8000000000000000, b.exponent_field() == 16383
#pragma once

#include <cstdint>
#include <cstring>

struct Float80Bits {
  uint64_t significand = 0;     // explicit integer bit in bit 63
  uint16_t sign_exponent = 0;   // sign in bit 15, biased exponent below

  unsigned exponent_field() const { return sign_exponent & 0x7FFFu; }
  bool sign() const { return (sign_exponent & 0x8000u) != 0; }
};

inline Float80Bits float80_bits(long double value) {
  Float80Bits bits;
  unsigned char raw[sizeof(long double)];
  std::memcpy(raw, &value, sizeof raw);
  std::memcpy(&bits.significand, raw, 8);
  std::memcpy(&bits.sign_exponent, raw + 8, 2);
  return bits;
}

inline long double float80_from_bits(uint64_t significand, uint16_t sign_exponent) {
  unsigned char raw[sizeof(long double)] = {};
  std::memcpy(raw, &significand, 8);
  std::memcpy(raw + 8, &sign_exponent, 2);
  long double value;
  std::memcpy(&value, raw, sizeof raw);
  return value;
}

// Control word fields: exception masks (bits 0-5), precision (bits 8-9),
// rounding (bits 10-11).
constexpr uint16_t kX87ControlFields = 0x0F3F;
// All exceptions masked, 64-bit significand, round to nearest.
constexpr uint16_t kX87ControlExtended = 0x033F;
constexpr uint16_t kX87StatusInvalid = 0x0001;
constexpr uint16_t kX87StatusOverflow = 0x0008;

// The "memory" clobbers keep the compiler from moving memory accesses (and
// so the floating work that depends on them) across these instructions.
inline uint16_t x87_control_word() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw) : : "memory");
  return cw;
}

inline void x87_load_control_word(uint16_t cw) {
  asm volatile("fldcw %0" : : "m"(cw) : "memory");
}

inline void x87_clear_exceptions() { asm volatile("fnclex" : : : "memory"); }

inline uint16_t x87_status_word() {
  uint16_t sw;
  asm volatile("fnstsw %0" : "=m"(sw) : : "memory");
  return sw;
}
