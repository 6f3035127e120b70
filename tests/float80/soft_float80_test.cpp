// The software extended format against the x87 unit: every operation on
// deterministic random operands (edge exponents, denormals, ties, carries
// into the integer bit, NaNs, unnormals) must give the unit's bits and its
// invalid, divide-by-zero and overflow flags. VANTRIC_FLOAT80_OPS sets the
// number of operations per kind (default 500000).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "float80/soft_float80.h"

namespace {

constexpr uint16_t kFlags = kSoftFloat80Invalid | kSoftFloat80DivideByZero | kSoftFloat80Overflow;

struct Bits {
  uint64_t significand;
  uint16_t sign_exponent;
  bool operator==(const Bits&) const = default;
};

long double to_hw(Bits b) {
  long double v = 0;
  std::memcpy(&v, &b.significand, 8);
  std::memcpy(reinterpret_cast<char*>(&v) + 8, &b.sign_exponent, 2);
  return v;
}
Bits from_hw(long double v) {
  Bits b;
  std::memcpy(&b.significand, &v, 8);
  std::memcpy(&b.sign_exponent, reinterpret_cast<const char*>(&v) + 8, 2);
  return b;
}
SoftFloat80 to_soft(Bits b) { return SoftFloat80::from_bits(b.significand, b.sign_exponent); }
Bits from_soft(SoftFloat80 x) { return {x.significand, x.sign_exponent}; }

enum class Op {
  add,
  subtract,
  multiply,
  divide,
  compare,
  to_double,
  to_int64,
  from_double,
  from_int64
};
constexpr const char* kOpNames[] = {"add",       "subtract", "multiply",    "divide",    "compare",
                                    "to_double", "to_int64", "from_double", "from_int64"};

// The unit's answer: result bits (or the integer, double bits or compare
// outcome in `significand`) and the flags raised.
struct Outcome {
  Bits bits{};
  uint16_t flags = 0;
  bool operator==(const Outcome&) const = default;
};

// Operands go in through memory in a fixed order (a in st(0), b in
// st(1)), so the unit sees the first operand first, as the software does.
#define X87_BINARY(instruction)                                                                   \
  asm volatile("fldt %3\n\tfldt %2\n\t" instruction " %%st(1), %%st\n\tfstp %%st(1)\n\tfnstsw %0" \
               : "=m"(sw), "=t"(r)                                                                \
               : "m"(x), "m"(y))

Outcome hardware(Op op, Bits a, Bits b) {
  const long double x = to_hw(a);
  const long double y = to_hw(b);
  long double r = 0;
  uint16_t sw = 0;
  Outcome out;
  asm volatile("fnclex" ::: "memory");
  switch (op) {
    case Op::add:
      X87_BINARY("fadd");
      break;
    case Op::subtract:
      X87_BINARY("fsub");
      break;
    case Op::multiply:
      X87_BINARY("fmul");
      break;
    case Op::divide:
      X87_BINARY("fdiv");
      break;
    case Op::compare:
      out.bits.significand = x < y ? 0 : x > y ? 2 : x == y ? 1 : 3;
      return out;
    case Op::to_double: {
      double d;
      asm volatile("fldt %2\n\tfstpl %1\n\tfnstsw %0" : "=m"(sw), "=m"(d) : "m"(x));
      std::memcpy(&out.bits.significand, &d, 8);
      out.flags = sw & kFlags;
      return out;
    }
    case Op::to_int64: {
      int64_t i;
      asm volatile("fldt %2\n\tfistpll %1\n\tfnstsw %0" : "=m"(sw), "=m"(i) : "m"(x));
      out.bits.significand = static_cast<uint64_t>(i);
      out.flags = sw & kFlags;
      return out;
    }
    case Op::from_double:
      asm volatile("fldl %2\n\tfnstsw %0" : "=m"(sw), "=t"(r) : "m"(a.significand));
      break;
    case Op::from_int64:
      asm volatile("fildll %2\n\tfnstsw %0" : "=m"(sw), "=t"(r) : "m"(a.significand));
      break;
  }
  out.bits = from_hw(r);
  out.flags = sw & kFlags;
  return out;
}

Outcome software(Op op, Bits a, Bits b) {
  const SoftFloat80 x = to_soft(a);
  const SoftFloat80 y = to_soft(b);
  soft_float80_clear_status();
  Outcome out;
  switch (op) {
    case Op::add:
      out.bits = from_soft(x + y);
      break;
    case Op::subtract:
      out.bits = from_soft(x - y);
      break;
    case Op::multiply:
      out.bits = from_soft(x * y);
      break;
    case Op::divide:
      out.bits = from_soft(x / y);
      break;
    case Op::compare: {
      const int c = soft_float80_compare(x, y);
      out.bits.significand = static_cast<uint64_t>(c == 2 ? 3 : c + 1);
      return out;
    }
    case Op::to_double: {
      const double d = static_cast<double>(x);
      std::memcpy(&out.bits.significand, &d, 8);
      break;
    }
    case Op::to_int64:
      out.bits.significand = static_cast<uint64_t>(x.to_int64_nearest());
      break;
    case Op::from_double: {
      double d;
      std::memcpy(&d, &a.significand, 8);
      out.bits = from_soft(SoftFloat80(d));
      break;
    }
    case Op::from_int64:
      out.bits = from_soft(SoftFloat80(static_cast<int64_t>(a.significand)));
      break;
  }
  out.flags = soft_float80_status() & kFlags;
  return out;
}

class Operands {
 public:
  explicit Operands(uint64_t seed) : rng_(seed) {}

  uint64_t significand() {
    const uint64_t r = rng_();
    switch (rng_() % 8) {
      case 0:
        return (r & 0xFF) | (1ull << 63);  // just above a power of two
      case 1:
        return ~0ull ^ (r & 0xFF);  // carries into the integer bit
      case 2:
        return ((r | 1) << (rng_() % 64)) | (1ull << 63);  // trailing zeros: exact ties
      case 3:
        return r & ~(1ull << 63);  // no integer bit
      case 4:
        return (1ull << 63) | (1ull << (rng_() % 63));
      case 5:
        return (1ull << 63) | (r >> (rng_() % 64));
      default:
        return r | (1ull << 63);
    }
  }
  unsigned field() {
    switch (rng_() % 8) {
      case 0:
        return 0;
      case 1:
        return 1 + rng_() % 3;
      case 2:
        return 0x7FFF;
      case 3:
        return 0x7FFE - rng_() % 3;
      case 4:
        return 16383 - 70 + rng_() % 140;
      case 5:
        return 16383 - 16445 / 2 + rng_() % 16445;  // products near both ends
      default:
        return rng_() % 0x7FFF;
    }
  }
  Bits any() { return make(field(), significand()); }
  // A second operand close to the first: aligned additions, cancellations.
  Bits near(Bits a) {
    const int field = static_cast<int>(a.sign_exponent & 0x7FFF) - static_cast<int>(rng_() % 70) +
                      static_cast<int>(rng_() % 3);
    const uint64_t s = rng_() % 2 ? a.significand ^ (rng_() & 0xFFFF) : significand();
    return make(static_cast<unsigned>(std::clamp(field, 0, 0x7FFF)), s);
  }
  Bits second(Bits a) { return rng_() % 2 ? near(a) : any(); }
  // Double and integer bit patterns, with their own edges.
  uint64_t double_bits() {
    const uint64_t r = rng_();
    switch (rng_() % 4) {
      case 0:
        return r & 0x800FFFFFFFFFFFFFull;  // zero or subnormal
      case 1:
        return r | 0x7FF0000000000000ull;  // infinity or NaN
      default:
        return r;
    }
  }
  uint64_t integer() { return rng_() >> (rng_() % 64); }

 private:
  Bits make(unsigned field, uint64_t significand) {
    return {significand, static_cast<uint16_t>(field | (rng_() % 2 ? 0x8000u : 0u))};
  }
  std::mt19937_64 rng_;
};

// Values of the integer conversion cluster where rounding and range matter.
Bits integer_operand(Operands& g, std::mt19937_64& rng) {
  Bits a = g.any();
  if (rng() % 2)
    a.sign_exponent = static_cast<uint16_t>((a.sign_exponent & 0x8000u) | (16382 + rng() % 66));
  return a;
}

uint64_t operation_count() {
  const char* text = std::getenv("VANTRIC_FLOAT80_OPS");
  return text != nullptr ? std::strtoull(text, nullptr, 10) : 500000;
}

TEST(SoftFloat80, MatchesTheX87UnitBitForBit) {
  const uint16_t extended = 0x037F;  // all masked, 64-bit significand, to nearest
  asm volatile("fldcw %0" : : "m"(extended));
  const uint64_t count = operation_count();
  for (int k = 0; k <= static_cast<int>(Op::from_int64); ++k) {
    const Op op = static_cast<Op>(k);
    SCOPED_TRACE(kOpNames[k]);
    Operands g(0x5eed0000u + k);
    std::mt19937_64 rng(k);
    uint64_t mismatches = 0;
    for (uint64_t i = 0; i < count; ++i) {
      Bits a{};
      Bits b{};
      if (op == Op::from_double) {
        a.significand = g.double_bits();
      } else if (op == Op::from_int64) {
        a.significand = g.integer();
        if (rng() % 2) a.significand = 0 - a.significand;
      } else if (op == Op::to_int64) {
        a = integer_operand(g, rng);
      } else {
        a = g.any();
        b = g.second(a);
      }
      const Outcome hw = hardware(op, a, b);
      const Outcome sw = software(op, a, b);
      if (hw == sw) continue;
      if (++mismatches <= 5) {
        ADD_FAILURE() << std::hex << "a " << a.sign_exponent << ":" << a.significand << " b "
                      << b.sign_exponent << ":" << b.significand << " unit "
                      << hw.bits.sign_exponent << ":" << hw.bits.significand << " flags "
                      << hw.flags << " software " << sw.bits.sign_exponent << ":"
                      << sw.bits.significand << " flags " << sw.flags;
      }
    }
    EXPECT_EQ(mismatches, 0u) << "of " << count;
  }
}

}  // namespace
