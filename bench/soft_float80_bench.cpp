// Cost of one operation of the software extended format next to the x87
// unit's, on the same operands (ordinary finite values of every magnitude
// the number text meets). The whole render/parse/format figures of both are
// text_bench and text_bench_soft.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "float80/soft_float80.h"

namespace {

constexpr std::size_t kCount = 1024;

struct Operands {
  std::vector<SoftFloat80> soft;
  std::vector<long double> hard;
};

const Operands& operands() {
  static const Operands made = [] {
    Operands o;
    std::mt19937_64 rng(80);
    for (std::size_t i = 0; i < kCount; ++i) {
      const uint64_t significand = rng() | (1ull << 63);
      const uint16_t exponent = static_cast<uint16_t>(16383 - 200 + rng() % 400);
      o.soft.push_back(SoftFloat80::from_bits(significand, exponent));
      long double v = 0;
      std::memcpy(&v, &significand, 8);
      std::memcpy(reinterpret_cast<char*>(&v) + 8, &exponent, 2);
      o.hard.push_back(v);
    }
    return o;
  }();
  return made;
}

template <typename T, typename Op>
void run(benchmark::State& state, const std::vector<T>& values, Op op) {
  std::size_t i = 0;
  for (auto _ : state) {
    const T& a = values[i % kCount];
    const T& b = values[(i + 1) % kCount];
    auto r = op(a, b);
    benchmark::DoNotOptimize(r);
    ++i;
  }
}

#define PAIR(name, expression)                                                            \
  void BM_soft_##name(benchmark::State& state) {                                          \
    run(state, operands().soft, [](SoftFloat80 a, SoftFloat80 b) { return expression; }); \
  }                                                                                       \
  void BM_x87_##name(benchmark::State& state) {                                           \
    run(state, operands().hard, [](long double a, long double b) { return expression; }); \
  }                                                                                       \
  BENCHMARK(BM_soft_##name);                                                              \
  BENCHMARK(BM_x87_##name)

PAIR(add, a + b);
PAIR(subtract, a - b);
PAIR(multiply, a* b);
PAIR(divide, a / b);
PAIR(less, a < b);
PAIR(to_double, (static_cast<void>(b), static_cast<double>(a)));

}  // namespace

BENCHMARK_MAIN();
