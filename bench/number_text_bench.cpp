// Number text against the standard library's shortest std::to_chars, on the same inputs.
//
// Doubles: four sets of 10^6 values, drawn once from a seeded generator: uniform in [0, 1),
// normal(100, 15), random bit patterns of finite doubles, and k/100 for the k below 10^6 in a
// shuffled order (the short decimals a price column holds). Each round times write_f64 and
// to_chars over every set, one after the other, the order alternating between rounds; the table
// gives the median time per double of each and the ratio to_chars / write_f64 of the medians. The
// machine may be shared, so only ratios measured in the same run mean anything. Target: a ratio of
// at least 3.0 on every set.
//
// Integers: Google Benchmark rows, write_u64 against to_chars; compare the rows of one run
// pairwise. One command line:
//
//   number_text_bench --rounds=15 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

#include "output/number_text.h"
#include "random/xoshiro.h"

namespace {

using tessary::F64_TEXT_CAPACITY;
using tessary::U64_TEXT_CAPACITY;

constexpr std::size_t DOUBLE_COUNT = 1000000;
constexpr std::size_t INTEGER_COUNT = 1 << 14;
constexpr std::uint64_t INPUT_SEED = 20240607;

std::vector<double> unit_doubles() {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED);
  std::vector<double> values(DOUBLE_COUNT);
  for (double& value : values) value = tessary::unit_f64(rng);
  return values;
}

// normal(100, 15) by the Box-Muller transform.
std::vector<double> normal_doubles() {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED + 1);
  std::vector<double> values(DOUBLE_COUNT);
  for (double& value : values) {
    const double radius = std::sqrt(-2.0 * std::log(tessary::open01_f64(rng)));
    value = 100.0 + 15.0 * radius * std::cos(2.0 * std::numbers::pi * tessary::unit_f64(rng));
  }
  return values;
}

std::vector<double> finite_bit_patterns() {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED + 2);
  std::vector<double> values;
  values.reserve(DOUBLE_COUNT);
  while (values.size() < DOUBLE_COUNT) {
    const double value = std::bit_cast<double>(rng.next_u64());
    if (std::isfinite(value)) values.push_back(value);
  }
  return values;
}

// k / 100 for k = 0 to 10^6 - 1, shuffled (Fisher-Yates) so that neighbours are unrelated.
std::vector<double> hundredths() {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED + 4);
  std::vector<double> values(DOUBLE_COUNT);
  for (std::size_t k = 0; k < DOUBLE_COUNT; ++k) values[k] = static_cast<double>(k) / 100.0;
  for (std::size_t i = DOUBLE_COUNT - 1; i > 0; --i) std::swap(values[i], values[rng.next_u64() % (i + 1)]);
  return values;
}

char f64_area[F64_TEXT_CAPACITY];
char u64_area[U64_TEXT_CAPACITY];

// Writes every value into the scratch area; `write` returns something that depends on the text so
// that the work is not optimised away. Returns nanoseconds per value.
template <typename Write>
double ns_per_double(const std::vector<double>& values, Write write) {
  const auto start = std::chrono::steady_clock::now();
  for (double value : values) {
    benchmark::DoNotOptimize(write(value));
    benchmark::ClobberMemory();
  }
  const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / static_cast<double>(values.size());
}

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const std::size_t middle = samples.size() / 2;
  return samples.size() % 2 == 1 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

void compare_doubles(int rounds) {
  struct Set {
    const char* name;
    std::vector<double> values;
    std::vector<double> ours;
    std::vector<double> reference;
  };
  Set sets[] = {{"uniform [0,1)", unit_doubles(), {}, {}},
                {"normal(100,15)", normal_doubles(), {}, {}},
                {"finite bits", finite_bit_patterns(), {}, {}},
                {"k/100", hundredths(), {}, {}}};
  const auto ours = [](double value) { return tessary::write_f64(value, f64_area); };
  const auto reference = [](double value) {
    return std::to_chars(f64_area, f64_area + sizeof f64_area, value).ptr;
  };
  for (int round = 0; round < rounds; ++round) {
    for (Set& set : sets) {
      if (round % 2 == 0) {
        set.ours.push_back(ns_per_double(set.values, ours));
        set.reference.push_back(ns_per_double(set.values, reference));
      } else {
        set.reference.push_back(ns_per_double(set.values, reference));
        set.ours.push_back(ns_per_double(set.values, ours));
      }
    }
  }
  std::printf("write_f64 against std::to_chars, %zu doubles per set, medians of %d alternating rounds\n",
              DOUBLE_COUNT, rounds);
  std::printf("%-16s %14s %14s %18s\n", "set", "write_f64 ns", "to_chars ns", "to_chars/write_f64");
  for (const Set& set : sets) {
    const double ours_ns = median(set.ours);
    const double reference_ns = median(set.reference);
    std::printf("%-16s %14.2f %14.2f %18.2f\n", set.name, ours_ns, reference_ns,
                reference_ns / ours_ns);
  }
  std::fflush(stdout);
}

std::vector<std::uint64_t> integers_below(std::uint64_t bound) {
  tessary::Xoshiro256PlusPlus rng = tessary::seed_from_u64(INPUT_SEED + 3);
  std::vector<std::uint64_t> values(INTEGER_COUNT);
  // bound 0 stands for 2^64: every draw as it is.
  for (std::uint64_t& value : values) value = bound == 0 ? rng.next_u64() : rng.next_u64() % bound;
  return values;
}

const std::vector<std::uint64_t>& integers(int set) {
  static const std::vector<std::uint64_t> sets[2] = {integers_below(1000000), integers_below(0)};
  return sets[set];
}

const char* const INTEGER_SETS[2] = {"below 10^6", "below 2^64"};

template <typename Write>
void run(benchmark::State& state, Write write) {
  const std::vector<std::uint64_t>& values = integers(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    for (std::uint64_t value : values) {
      benchmark::DoNotOptimize(write(value));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
  state.SetLabel(INTEGER_SETS[state.range(0)]);
}

void BM_write_u64(benchmark::State& state) {
  run(state, [](std::uint64_t value) { return tessary::write_u64(value, u64_area); });
}

void BM_to_chars_u64(benchmark::State& state) {
  run(state, [](std::uint64_t value) {
    return std::to_chars(u64_area, u64_area + sizeof u64_area, value).ptr;
  });
}

BENCHMARK(BM_write_u64)->DenseRange(0, 1);
BENCHMARK(BM_to_chars_u64)->DenseRange(0, 1);

}  // namespace

// --rounds=N sets the number of double rounds (default 11); the other arguments go to Google
// Benchmark.
int main(int argc, char** argv) {
  int rounds = 11;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rounds=", 9) == 0) {
      rounds = std::atoi(argv[i] + 9);
      if (rounds < 1) {
        std::fprintf(stderr, "--rounds needs a positive count\n");
        return 2;
      }
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  compare_doubles(rounds);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
