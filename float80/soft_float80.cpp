// The software format needs 128-bit integers, which every 64-bit target
// has; 32-bit x86 always uses the hardware unit.
#if defined(__SIZEOF_INT128__)

#include "float80/soft_float80.h"

#include <cstring>

namespace {

using u128 = unsigned __int128;

thread_local uint16_t status = 0;

constexpr int kBias = 16383;
constexpr int kMinExponent = 1 - kBias;  // of the smallest normal value
constexpr int kMaxExponent = kBias;
constexpr uint64_t kIntegerBit = 0x8000000000000000ull;
constexpr uint64_t kQuietBit = 0x4000000000000000ull;

enum class Kind { zero, finite, infinity, nan, unsupported };

// A value taken apart: finite values as significand * 2^(exponent - 63)
// with the significand's bit 63 set, whatever the encoding was.
struct Parts {
  Kind kind;
  bool negative;
  int exponent;
  uint64_t significand;
};

Parts unpack(SoftFloat80 x) {
  const bool negative = (x.sign_exponent & 0x8000u) != 0;
  const int field = x.sign_exponent & 0x7FFF;
  const uint64_t s = x.significand;
  if (field == 0x7FFF) {
    if ((s & kIntegerBit) == 0) return {Kind::unsupported, negative, 0, s};
    return {(s << 1) == 0 ? Kind::infinity : Kind::nan, negative, 0, s};
  }
  if (field == 0) {
    if (s == 0) return {Kind::zero, negative, 0, 0};
    // Denormals and pseudo-denormals both sit at the smallest exponent.
    const int shift = __builtin_clzll(s);
    return {Kind::finite, negative, kMinExponent - shift, s << shift};
  }
  if ((s & kIntegerBit) == 0) return {Kind::unsupported, negative, 0, s};
  return {Kind::finite, negative, field - kBias, s};
}

SoftFloat80 make(bool negative, unsigned field, uint64_t significand) {
  return SoftFloat80::from_bits(significand,
                                static_cast<uint16_t>((negative ? 0x8000u : 0u) | field));
}

SoftFloat80 default_nan() {
  status |= kSoftFloat80Invalid;
  return make(true, 0x7FFF, kIntegerBit | kQuietBit);
}

SoftFloat80 infinity(bool negative) { return make(negative, 0x7FFF, kIntegerBit); }

bool is_signaling(const Parts& p) {
  return p.kind == Kind::nan && (p.significand & kQuietBit) == 0;
}

// The result when an operand is a NaN or not a supported encoding; false
// when neither is.
bool special_operands(const Parts& a, const Parts& b, SoftFloat80 ra, SoftFloat80 rb,
                      SoftFloat80& out) {
  if (a.kind == Kind::unsupported || b.kind == Kind::unsupported) {
    out = default_nan();
    return true;
  }
  const bool a_nan = a.kind == Kind::nan;
  const bool b_nan = b.kind == Kind::nan;
  if (!a_nan && !b_nan) return false;
  if (is_signaling(a) || is_signaling(b)) status |= kSoftFloat80Invalid;
  SoftFloat80 pick;
  if (a_nan && b_nan) {
    // A quiet NaN wins over a signaling one; otherwise the larger
    // significand, and on a tie the positive one.
    const uint64_t sa = a.significand | kQuietBit;
    const uint64_t sb = b.significand | kQuietBit;
    if (is_signaling(a) != is_signaling(b)) {
      pick = is_signaling(a) ? rb : ra;
    } else if (sa != sb) {
      pick = sb > sa ? rb : ra;
    } else {
      pick = b.negative ? ra : rb;
    }
  } else {
    pick = a_nan ? ra : rb;
  }
  pick.significand |= kQuietBit;
  out = pick;
  return true;
}

// `kept` rounded from `m` (bit 127 set) to `precision` bits, the value being
// m * 2^(exponent - 127); no finer than the grid of 2^min_exponent. On
// return the value is kept * 2^(exponent - precision + 1); kept has its top
// bit set unless the value is below 2^min_exponent.
struct Rounded {
  uint64_t kept;
  int exponent;
};

Rounded round_to(u128 m, int exponent, int precision, int min_exponent) {
  int drop = 128 - precision;
  if (exponent < min_exponent) {
    const int64_t extra = static_cast<int64_t>(min_exponent) - exponent;
    drop = extra > 200 ? 200 : drop + static_cast<int>(extra);
    exponent = min_exponent;
  }
  uint64_t kept;
  u128 rest;
  u128 half;
  if (drop >= 128) {
    kept = 0;
    rest = drop == 128 ? m : 1;  // only the sticky part survives further out
    half = drop == 128 ? static_cast<u128>(1) << 127 : 2;
  } else {
    kept = static_cast<uint64_t>(m >> drop);
    rest = m & ((static_cast<u128>(1) << drop) - 1);
    half = static_cast<u128>(1) << (drop - 1);
  }
  if (rest > half || (rest == half && (kept & 1) != 0)) {
    ++kept;
    if (precision < 64 ? kept == (1ull << precision) : kept == 0) {
      kept = 1ull << (precision - 1);
      ++exponent;
    }
  }
  return {kept, exponent};
}

// The extended value of m * 2^scale (m not zero), rounded.
SoftFloat80 pack(bool negative, int scale, u128 m) {
  const uint64_t upper = static_cast<uint64_t>(m >> 64);
  const int high =
      upper != 0 ? 127 - __builtin_clzll(upper) : 63 - __builtin_clzll(static_cast<uint64_t>(m));
  m <<= 127 - high;
  const Rounded r = round_to(m, scale + high, 64, kMinExponent);
  if (r.exponent > kMaxExponent) {
    status |= kSoftFloat80Overflow;
    return infinity(negative);
  }
  const unsigned field =
      (r.kept & kIntegerBit) != 0 ? static_cast<unsigned>(r.exponent + kBias) : 0;
  return make(negative, field, r.kept);
}

SoftFloat80 add(SoftFloat80 ra, SoftFloat80 rb, bool subtract) {
  Parts a = unpack(ra);
  Parts b = unpack(rb);
  SoftFloat80 out;
  if (special_operands(a, b, ra, rb, out)) return out;
  if (subtract) b.negative = !b.negative;
  if (a.kind == Kind::infinity || b.kind == Kind::infinity) {
    if (a.kind == b.kind && a.negative != b.negative) return default_nan();
    return infinity(a.kind == Kind::infinity ? a.negative : b.negative);
  }
  if (a.kind == Kind::zero && b.kind == Kind::zero) return make(a.negative && b.negative, 0, 0);
  if (b.kind == Kind::zero) return pack(a.negative, a.exponent - 63, a.significand);
  if (a.kind == Kind::zero) return pack(b.negative, b.exponent - 63, b.significand);
  if (b.exponent > a.exponent || (b.exponent == a.exponent && b.significand > a.significand)) {
    const Parts t = a;
    a = b;
    b = t;
  }
  // Significands at bits 126..63, bit 127 free for a carry; the smaller one
  // shifted into the 63 guard bits with everything further out kept sticky.
  const u128 big = static_cast<u128>(a.significand) << 63;
  u128 small = static_cast<u128>(b.significand) << 63;
  const int64_t gap = static_cast<int64_t>(a.exponent) - b.exponent;
  if (gap >= 127) {
    small = 1;
  } else if (gap > 0) {
    const u128 lost = small & ((static_cast<u128>(1) << gap) - 1);
    small = (small >> gap) | (lost != 0 ? 1 : 0);
  }
  const int scale = a.exponent - 126;
  if (a.negative == b.negative) return pack(a.negative, scale, big + small);
  const u128 difference = big - small;
  if (difference == 0) return make(false, 0, 0);
  return pack(a.negative, scale, difference);
}

}  // namespace

SoftFloat80::SoftFloat80(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const unsigned field = static_cast<unsigned>(bits >> 52) & 0x7FF;
  const uint64_t fraction = bits & ((1ull << 52) - 1);
  if (field == 0x7FF) {
    if (fraction == 0) {
      *this = infinity(negative);
      return;
    }
    if ((fraction & (1ull << 51)) == 0) status |= kSoftFloat80Invalid;
    *this = make(negative, 0x7FFF, kIntegerBit | kQuietBit | (fraction << 11));
    return;
  }
  if (field == 0) {
    *this = fraction == 0 ? make(negative, 0, 0) : pack(negative, -1074, fraction);
    return;
  }
  *this = make(negative, field - 1023 + kBias, kIntegerBit | (fraction << 11));
}

SoftFloat80::operator double() const {
  const Parts p = unpack(*this);
  uint64_t bits = p.negative ? 1ull << 63 : 0;
  switch (p.kind) {
    case Kind::zero:
      break;
    case Kind::unsupported:
      status |= kSoftFloat80Invalid;
      bits = 0xFFF8000000000000ull;
      break;
    case Kind::infinity:
      bits |= 0x7FF0000000000000ull;
      break;
    case Kind::nan:
      if ((p.significand & kQuietBit) == 0) status |= kSoftFloat80Invalid;
      bits |= 0x7FF8000000000000ull | ((p.significand >> 11) & ((1ull << 52) - 1));
      break;
    case Kind::finite: {
      const Rounded r = round_to(static_cast<u128>(p.significand) << 64, p.exponent, 53, -1022);
      if (r.exponent > 1023) {
        status |= kSoftFloat80Overflow;
        bits |= 0x7FF0000000000000ull;
      } else {
        const uint64_t field = (r.kept >> 52) != 0 ? static_cast<uint64_t>(r.exponent + 1023) : 0;
        bits |= (field << 52) | (r.kept & ((1ull << 52) - 1));
      }
      break;
    }
  }
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

int64_t SoftFloat80::to_int64_nearest() const {
  constexpr int64_t kIndefinite = INT64_MIN;
  const Parts p = unpack(*this);
  if (p.kind == Kind::zero) return 0;
  if (p.kind != Kind::finite || p.exponent > 63) {
    status |= kSoftFloat80Invalid;
    return kIndefinite;
  }
  uint64_t magnitude;
  if (p.exponent < -1) {
    magnitude = 0;
  } else {
    const Rounded r = round_to(static_cast<u128>(p.significand) << 64, p.exponent, 64, 63);
    if (r.exponent > 63) {  // rounded up to 2^64
      status |= kSoftFloat80Invalid;
      return kIndefinite;
    }
    magnitude = r.kept;
  }
  if (p.negative) {
    if (magnitude > kIntegerBit) {
      status |= kSoftFloat80Invalid;
      return kIndefinite;
    }
    return static_cast<int64_t>(0 - magnitude);
  }
  if (magnitude >= kIntegerBit) {
    status |= kSoftFloat80Invalid;
    return kIndefinite;
  }
  return static_cast<int64_t>(magnitude);
}

SoftFloat80 operator+(SoftFloat80 a, SoftFloat80 b) { return add(a, b, false); }
SoftFloat80 operator-(SoftFloat80 a, SoftFloat80 b) { return add(a, b, true); }

SoftFloat80 operator*(SoftFloat80 ra, SoftFloat80 rb) {
  const Parts a = unpack(ra);
  const Parts b = unpack(rb);
  SoftFloat80 out;
  if (special_operands(a, b, ra, rb, out)) return out;
  const bool negative = a.negative != b.negative;
  if (a.kind == Kind::infinity || b.kind == Kind::infinity) {
    if (a.kind == Kind::zero || b.kind == Kind::zero) return default_nan();
    return infinity(negative);
  }
  if (a.kind == Kind::zero || b.kind == Kind::zero) return make(negative, 0, 0);
  return pack(negative, a.exponent + b.exponent - 126,
              static_cast<u128>(a.significand) * b.significand);
}

SoftFloat80 operator/(SoftFloat80 ra, SoftFloat80 rb) {
  const Parts a = unpack(ra);
  const Parts b = unpack(rb);
  SoftFloat80 out;
  if (special_operands(a, b, ra, rb, out)) return out;
  const bool negative = a.negative != b.negative;
  if (a.kind == Kind::infinity) {
    if (b.kind == Kind::infinity) return default_nan();
    return infinity(negative);
  }
  if (b.kind == Kind::infinity) return make(negative, 0, 0);
  if (b.kind == Kind::zero) {
    if (a.kind == Kind::zero) return default_nan();
    status |= kSoftFloat80DivideByZero;
    return infinity(negative);
  }
  if (a.kind == Kind::zero) return make(negative, 0, 0);
  const u128 dividend = static_cast<u128>(a.significand) << 64;
  const u128 first = dividend / b.significand;  // 2^63 <= first < 2^65
  const uint64_t rest = static_cast<uint64_t>(dividend % b.significand);
  if ((first >> 64) != 0) {
    return pack(negative, a.exponent - b.exponent - 127, (first << 63) | (rest != 0 ? 1 : 0));
  }
  const u128 more = static_cast<u128>(rest) << 64;
  const uint64_t second = static_cast<uint64_t>(more / b.significand);
  const bool sticky = more % b.significand != 0;
  return pack(negative, a.exponent - b.exponent - 128, (first << 64) | second | (sticky ? 1 : 0));
}

int soft_float80_compare(SoftFloat80 ra, SoftFloat80 rb) {
  const Parts a = unpack(ra);
  const Parts b = unpack(rb);
  auto unordered = [](const Parts& p) {
    return p.kind == Kind::nan || p.kind == Kind::unsupported;
  };
  if (unordered(a) || unordered(b)) return 2;
  if (a.kind == Kind::zero && b.kind == Kind::zero) return 0;
  // Rank on a line: the sign first, then infinity above every finite value,
  // then exponent and significand; zero below every finite magnitude.
  auto magnitude_order = [](const Parts& x, const Parts& y) {
    auto rank = [](const Parts& p) {
      return p.kind == Kind::zero ? 0 : p.kind == Kind::finite ? 1 : 2;
    };
    if (rank(x) != rank(y)) return rank(x) < rank(y) ? -1 : 1;
    if (x.kind != Kind::finite) return 0;
    if (x.exponent != y.exponent) return x.exponent < y.exponent ? -1 : 1;
    if (x.significand != y.significand) return x.significand < y.significand ? -1 : 1;
    return 0;
  };
  const bool a_negative = a.negative && a.kind != Kind::zero;
  const bool b_negative = b.negative && b.kind != Kind::zero;
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  const int order = magnitude_order(a, b);
  return a_negative ? -order : order;
}

uint16_t soft_float80_status() { return status; }

void soft_float80_clear_status() { status = 0; }

SoftFloat80 soft_float80_from_binary128(unsigned __int128 bits) {
  const bool negative = (bits >> 127) != 0;
  const unsigned field = static_cast<unsigned>(bits >> 112) & 0x7FFF;
  const u128 fraction = bits & ((static_cast<u128>(1) << 112) - 1);
  if (field == 0x7FFF) {
    if (fraction == 0) return infinity(negative);
    if ((fraction >> 111) == 0) status |= kSoftFloat80Invalid;
    return make(negative, 0x7FFF, kIntegerBit | kQuietBit | static_cast<uint64_t>(fraction >> 49));
  }
  if (field == 0) {
    if (fraction == 0) return make(negative, 0, 0);
    return pack(negative, kMinExponent - 112, fraction);
  }
  return pack(negative, static_cast<int>(field) - kBias - 112,
              (static_cast<u128>(1) << 112) | fraction);
}

unsigned __int128 soft_float80_to_binary128(SoftFloat80 x) {
  const Parts p = unpack(x);
  u128 bits = static_cast<u128>(p.negative ? 1 : 0) << 127;
  const u128 top_field = static_cast<u128>(0x7FFF) << 112;
  switch (p.kind) {
    case Kind::zero:
      return bits;
    case Kind::unsupported:
      return (static_cast<u128>(0xFFFF8) << 108);
    case Kind::infinity:
      return bits | top_field;
    case Kind::nan:
      return bits | top_field | (static_cast<u128>(1) << 111) |
             (static_cast<u128>(p.significand & ~kIntegerBit) << 49);
    case Kind::finite:
      break;
  }
  if (p.exponent < kMinExponent) {
    // Extended denormals are binary128 denormals (same smallest exponent),
    // the bits below 2^-16445 all zero.
    const int shift = p.exponent + 16431;
    const u128 s = p.significand;
    return bits | (shift >= 0 ? s << shift : s >> -shift);
  }
  return bits | (static_cast<u128>(p.exponent + kBias) << 112) |
         (static_cast<u128>(p.significand & ~kIntegerBit) << 49);
}

#endif  // __SIZEOF_INT128__
