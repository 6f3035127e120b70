// The x87 80-bit extended format as the number text works in it: the type
// `Float80`, its bit layout, and the scopes that fix its rounding.
//
// On x86 and x86-64 `Float80` is the hardware's `long double` and the
// scopes set the x87 control word; elsewhere (or when the build defines
// VANTRIC_SOFT_FLOAT80) it is SoftFloat80, which rounds bit for bit as the
// unit does. `long double` values cross into and out of the format through
// to_float80 and from_float80: exact where `long double` is the extended
// format or wider, rounded to nearest where it is IEEE binary128 and the
// value needs more than 64 significant bits.
//
//   Float80Bits b = float80_bits(1.0L);
//   // b.significand == 0x8000000000000000, b.exponent_field() == 16383
#pragma once

#include <cstdint>
#include <cstring>

#if (defined(__i386__) || defined(__x86_64__)) && !defined(VANTRIC_SOFT_FLOAT80)
#define VANTRIC_FLOAT80_HARDWARE 1
#else
#include "float80/soft_float80.h"
#endif

struct Float80Bits {
  uint64_t significand = 0;    // explicit integer bit in bit 63
  uint16_t sign_exponent = 0;  // sign in bit 15, biased exponent below

  unsigned exponent_field() const { return sign_exponent & 0x7FFFu; }
  bool sign() const { return (sign_exponent & 0x8000u) != 0; }
};

#if defined(__i386__) || defined(__x86_64__)
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

inline void x87_load_control_word(uint16_t cw) { asm volatile("fldcw %0" : : "m"(cw) : "memory"); }

inline void x87_clear_exceptions() { asm volatile("fnclex" : : : "memory"); }

inline uint16_t x87_status_word() {
  uint16_t sw;
  asm volatile("fnstsw %0" : "=m"(sw) : : "memory");
  return sw;
}
#endif

#if defined(VANTRIC_FLOAT80_HARDWARE)

using Float80 = long double;

constexpr Float80 to_float80(long double value) { return value; }
constexpr long double from_float80(Float80 value) { return value; }

inline Float80Bits float80_bits(Float80 value) {
  Float80Bits bits;
  unsigned char raw[sizeof(long double)];
  std::memcpy(raw, &value, sizeof raw);
  std::memcpy(&bits.significand, raw, 8);
  std::memcpy(&bits.sign_exponent, raw + 8, 2);
  return bits;
}

inline Float80 float80_from_bits(uint64_t significand, uint16_t sign_exponent) {
  unsigned char raw[sizeof(long double)] = {};
  std::memcpy(raw, &significand, 8);
  std::memcpy(raw + 8, &sign_exponent, 2);
  long double value;
  std::memcpy(&value, raw, sizeof raw);
  return value;
}

inline Float80 float80_abs(Float80 x) { return __builtin_fabsl(x); }
inline Float80 float80_infinity() { return __builtin_infl(); }

// Keeps `x` in a register across this point: work on it is not moved over
// a change of the control word.
inline void float80_settle(Float80& x) { asm volatile("" : "+t"(x)); }

// Converts an integer-valued s below 2^64 without changing the control word.
inline uint64_t float80_store_integer(Float80 s) {
  constexpr long double k2p63 = 0x8p+60L;
  uint64_t high = 0;
  if (s >= k2p63) {
    s -= k2p63;  // exact: s is an integer and so is the difference
    high = 0x8000000000000000ull;
  }
  int64_t low;
  // Volatile: ordered before the control word is given back.
  asm volatile("fistpll %0" : "=m"(low) : "t"(s) : "st");
  return high | static_cast<uint64_t>(low);
}

// Runs the enclosed floating work with all exceptions masked, round to
// nearest and a 64-bit significand. Most callers already run that way, so
// the control word is only touched when it differs; when it was changed the
// flags raised meanwhile are cleared before the caller's word comes back,
// so that an unmasked exception cannot fire on the caller's next
// instruction.
class Float80Scope {
 public:
  Float80Scope() : saved_(x87_control_word()) {
    changed_ = (saved_ & kX87ControlFields) != kX87ControlExtended;
    if (changed_) {
      x87_load_control_word(
          static_cast<uint16_t>((saved_ & ~kX87ControlFields) | kX87ControlExtended));
    }
  }
  ~Float80Scope() {
    if (changed_) {
      x87_clear_exceptions();
      x87_load_control_word(saved_);
    }
  }
  Float80Scope(const Float80Scope&) = delete;
  Float80Scope& operator=(const Float80Scope&) = delete;

 private:
  uint16_t saved_;
  bool changed_;
};

// Like Float80Scope, but always clears the status flags at both ends, so
// that the work inside can tell from them whether it overflowed.
class Float80FlagScope {
 public:
  Float80FlagScope() : saved_(x87_control_word()) {
    x87_clear_exceptions();
    x87_load_control_word(
        static_cast<uint16_t>((saved_ & ~kX87ControlFields) | kX87ControlExtended));
  }
  ~Float80FlagScope() {
    x87_clear_exceptions();
    x87_load_control_word(saved_);
  }
  Float80FlagScope(const Float80FlagScope&) = delete;
  Float80FlagScope& operator=(const Float80FlagScope&) = delete;

  // Whether overflow or invalid operation was raised so far; `last` is the
  // final result, read through memory so that the flags are read after it.
  bool overflow_or_invalid(Float80& last) const {
    volatile Float80 settled = last;
    const bool raised = (x87_status_word() & (kX87StatusOverflow | kX87StatusInvalid)) != 0;
    last = settled;
    return raised;
  }

 private:
  uint16_t saved_;
};

#else  // software

using Float80 = SoftFloat80;

inline Float80 to_float80(long double value) {
  if constexpr (__LDBL_MANT_DIG__ == 113) {
    unsigned __int128 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return soft_float80_from_binary128(bits);
  } else if constexpr (__LDBL_MANT_DIG__ == 64) {
    Float80 x;
    std::memcpy(&x.significand, &value, 8);
    std::memcpy(&x.sign_exponent, reinterpret_cast<const char*>(&value) + 8, 2);
    return x;
  } else {
    return Float80(static_cast<double>(value));
  }
}

inline long double from_float80(Float80 value) {
  if constexpr (__LDBL_MANT_DIG__ == 113) {
    const unsigned __int128 bits = soft_float80_to_binary128(value);
    long double result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
  } else if constexpr (__LDBL_MANT_DIG__ == 64) {
    long double result = 0;
    std::memcpy(&result, &value.significand, 8);
    std::memcpy(reinterpret_cast<char*>(&result) + 8, &value.sign_exponent, 2);
    return result;
  } else {
    return static_cast<long double>(static_cast<double>(value));
  }
}

inline Float80Bits float80_bits(Float80 value) { return {value.significand, value.sign_exponent}; }
inline Float80Bits float80_bits(long double value) { return float80_bits(to_float80(value)); }

inline long double float80_from_bits(uint64_t significand, uint16_t sign_exponent) {
  return from_float80(Float80::from_bits(significand, sign_exponent));
}

inline Float80 float80_abs(Float80 x) {
  x.sign_exponent &= 0x7FFFu;
  return x;
}
inline Float80 float80_infinity() { return Float80::from_bits(0x8000000000000000ull, 0x7FFF); }

inline void float80_settle(Float80&) {}

inline uint64_t float80_store_integer(Float80 s) {
  if (s >= Float80(0x8000000000000000ull)) {
    return 0x8000000000000000ull |
           static_cast<uint64_t>((s - Float80(0x8000000000000000ull)).to_int64_nearest());
  }
  return static_cast<uint64_t>(s.to_int64_nearest());
}

// The software format always rounds as the scope asks.
class Float80Scope {
 public:
  Float80Scope() {}  // user-provided: a scope variable is not "unused"
  Float80Scope(const Float80Scope&) = delete;
  Float80Scope& operator=(const Float80Scope&) = delete;
};

class Float80FlagScope {
 public:
  Float80FlagScope() { soft_float80_clear_status(); }
  ~Float80FlagScope() { soft_float80_clear_status(); }
  Float80FlagScope(const Float80FlagScope&) = delete;
  Float80FlagScope& operator=(const Float80FlagScope&) = delete;

  bool overflow_or_invalid(Float80&) const {
    return (soft_float80_status() & (kSoftFloat80Overflow | kSoftFloat80Invalid)) != 0;
  }
};

#endif
