// The weighted pick of a choice: the scan against the search over its bands, and the time to build
// the bands.
//
// Weights: n lognormal(0, 1) weights drawn once from a seeded generator. BM_Scan and BM_Search time
// one pick each per iteration (a fresh draw each, as entities do), through the same weights and
// total; the counter band_share is the share of draws that land within a band and so are scanned.
// BM_BuildBands times pick_bands over the list. Targets: a search of 1000 weights in 20 to 40 ns,
// about 20 times less than the scan; bands of 10^6 weights in a few milliseconds. One command line:
//
//   index_pick_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "kinds/choice.h"
#include "sampling/index_pick.h"
#include "sampling/standard_normal.h"

namespace tessary {
namespace {

Choice lognormal_choice(std::int64_t n) {
  Xoshiro256PlusPlus rng = seed_from_u64(42);
  std::vector<double> weights(static_cast<std::size_t>(n));
  for (double& w : weights) w = std::exp(standard_normal(rng));
  return make_choice({}, std::move(weights));
}

void BM_Scan(benchmark::State& state) {
  const Choice choice = lognormal_choice(state.range(0));
  Xoshiro256PlusPlus rng = seed_from_u64(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(weighted_pick(pick_weights(choice), choice.weight_total, rng));
  }
}
BENCHMARK(BM_Scan)->Arg(8)->Arg(16)->Arg(64)->Arg(1000)->Arg(100000);

void BM_Search(benchmark::State& state) {
  const Choice choice = lognormal_choice(state.range(0));
  const PickBands& bands = choice.pick_bands;
  double width = 0;
  for (std::size_t j = 0; j < bands.lower.size(); ++j) width += bands.upper[j] - bands.lower[j];
  state.counters["band_share"] = width / choice.weight_total;
  Xoshiro256PlusPlus rng = seed_from_u64(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        weighted_pick(pick_weights(choice), choice.weight_total, bands, rng));
  }
}
BENCHMARK(BM_Search)->Arg(9)->Arg(17)->Arg(64)->Arg(1000)->Arg(100000)->Arg(1000000);

void BM_BuildBands(benchmark::State& state) {
  const Choice choice = lognormal_choice(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(pick_bands(pick_weights(choice)));
}
BENCHMARK(BM_BuildBands)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
