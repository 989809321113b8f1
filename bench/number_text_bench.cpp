// Number text against the standard library's shortest std::to_chars, on the same inputs.
//
// Each benchmark writes every value of a fixed input set (drawn once from a seeded generator) into
// a scratch area; items per second counts values written. Compare the rows of one run pairwise:
// write_f64 / to_chars for each double set, write_u64 / to_chars for each integer set.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "output/number_text.h"
#include "random/xoshiro.h"

namespace {

using tessary::F64_TEXT_CAPACITY;
using tessary::U64_TEXT_CAPACITY;

constexpr std::size_t INPUT_COUNT = 1 << 14;
constexpr std::uint64_t INPUT_SEED = 20240607;

std::vector<double> unit_doubles() {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED);
  std::vector<double> values(INPUT_COUNT);
  for (double& value : values) value = tessary::unit_f64(rng);
  return values;
}

// normal(100, 15) by the Box-Muller transform.
std::vector<double> normal_doubles() {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED + 1);
  std::vector<double> values(INPUT_COUNT);
  for (double& value : values) {
    const double radius = std::sqrt(-2.0 * std::log(tessary::open01_f64(rng)));
    value = 100.0 + 15.0 * radius * std::cos(2.0 * M_PI * tessary::unit_f64(rng));
  }
  return values;
}

std::vector<double> finite_bit_patterns() {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED + 2);
  std::vector<double> values;
  values.reserve(INPUT_COUNT);
  while (values.size() < INPUT_COUNT) {
    const double value = std::bit_cast<double>(rng.next_u64());
    if (std::isfinite(value)) values.push_back(value);
  }
  return values;
}

std::vector<std::uint64_t> integers_below(std::uint64_t bound) {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED + 3);
  std::vector<std::uint64_t> values(INPUT_COUNT);
  // bound 0 stands for 2^64: every draw as it is.
  for (std::uint64_t& value : values) value = bound == 0 ? rng.next_u64() : rng.next_u64() % bound;
  return values;
}

const std::vector<double>& doubles(int set) {
  static const std::vector<double> sets[3] = {unit_doubles(), normal_doubles(),
                                              finite_bit_patterns()};
  return sets[set];
}

const std::vector<std::uint64_t>& integers(int set) {
  static const std::vector<std::uint64_t> sets[2] = {integers_below(1000000), integers_below(0)};
  return sets[set];
}

const char* const DOUBLE_SETS[3] = {"uniform [0,1)", "normal(100,15)", "finite bits"};
const char* const INTEGER_SETS[2] = {"below 10^6", "below 2^64"};

// Writes every value of the set into one scratch area per value; `write` returns something that
// depends on the text so that the work is not optimised away.
template <typename Value, typename Write>
void run(benchmark::State& state, const std::vector<Value>& values, const char* label,
         Write write) {
  for (auto _ : state) {
    for (Value value : values) {
      benchmark::DoNotOptimize(write(value));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
  state.SetLabel(label);
}

char f64_area[F64_TEXT_CAPACITY];
char u64_area[U64_TEXT_CAPACITY];

void BM_write_f64(benchmark::State& state) {
  run(state, doubles(static_cast<int>(state.range(0))), DOUBLE_SETS[state.range(0)],
      [](double value) { return tessary::write_f64(value, f64_area); });
}

void BM_to_chars_f64(benchmark::State& state) {
  run(state, doubles(static_cast<int>(state.range(0))), DOUBLE_SETS[state.range(0)],
      [](double value) { return std::to_chars(f64_area, f64_area + sizeof f64_area, value).ptr; });
}

void BM_write_u64(benchmark::State& state) {
  run(state, integers(static_cast<int>(state.range(0))), INTEGER_SETS[state.range(0)],
      [](std::uint64_t value) { return tessary::write_u64(value, u64_area); });
}

void BM_to_chars_u64(benchmark::State& state) {
  run(state, integers(static_cast<int>(state.range(0))), INTEGER_SETS[state.range(0)],
      [](std::uint64_t value) {
        return std::to_chars(u64_area, u64_area + sizeof u64_area, value).ptr;
      });
}

BENCHMARK(BM_write_f64)->DenseRange(0, 2);
BENCHMARK(BM_to_chars_f64)->DenseRange(0, 2);
BENCHMARK(BM_write_u64)->DenseRange(0, 1);
BENCHMARK(BM_to_chars_u64)->DenseRange(0, 1);

}  // namespace

BENCHMARK_MAIN();
