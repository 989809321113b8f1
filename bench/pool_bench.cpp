// collect_indexed against an OpenMP `parallel for` with dynamic scheduling doing the same work.
//
// Targets: for about 50 ns of arithmetic per index over 10^6 indices, a pool of 2 threads takes at
// most 1.15 times OpenMP's time with 2 threads, and at least 1.8 times less than a pool of 1
// thread; for 2 to 64 indices of trivial work, the round trip from the caller takes at most 3 times
// OpenMP's. The machine may be shared, so compare medians of interleaved repetitions. (The round
// trips run a fixed number of iterations: OpenMP's spinning threads get very slow when other
// processes want the processors, and an iteration count sized in a quiet moment could then take
// many minutes.) One command line:
//
//   pool_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//              --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <vector>

#include "pool/collect_indexed.h"
#include "pool/test_pools.h"
#include "pool/worker_pool.h"

namespace tessary {
namespace {

constexpr std::size_t MAP_COUNT = 1000000;

// About 50 ns of dependent integer arithmetic per index when run over a range, as a loop on one
// thread shows (BM_Map50ns_Serial, time / 10^6).
std::uint64_t work_50ns(std::size_t i) {
  std::uint64_t x = i + 1;
  for (int r = 0; r < 68; ++r) {
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ULL;
  }
  return x;
}

std::uint64_t trivial_work(std::size_t i) {
  return i * 3 + 1;
}

WorkerPool& pool_of(std::size_t threads) {
  return testing::pool_with(threads == 1 ? 1 : 2);
}

void BM_Map50ns_Serial(benchmark::State& state) {
  std::vector<std::uint64_t> out(MAP_COUNT);
  for (auto _ : state) {
    for (std::size_t i = 0; i < MAP_COUNT; ++i) out[i] = work_50ns(i);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Map50ns_Serial)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Map50ns_OpenMP(benchmark::State& state) {
  std::vector<std::uint64_t> out(MAP_COUNT);
  const auto count = static_cast<std::int64_t>(MAP_COUNT);
  for (auto _ : state) {
#pragma omp parallel for schedule(dynamic) num_threads(2)
    for (std::int64_t i = 0; i < count; ++i) out[i] = work_50ns(static_cast<std::size_t>(i));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Map50ns_OpenMP)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Map50ns_Pool(benchmark::State& state) {
  WorkerPool& pool = pool_of(static_cast<std::size_t>(state.range(0)));
  std::vector<std::uint64_t> out(MAP_COUNT);
  for (auto _ : state) {
    collect_indexed(pool, MAP_COUNT, &work_50ns, std::span<std::uint64_t>(out));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Map50ns_Pool)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Both round-trip benchmarks run the same counts and iterations, so their rows compare pairwise.
void round_trip_settings(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("count")->Arg(2)->Arg(8)->Arg(64)->Iterations(20000)->UseRealTime();
}

void BM_RoundTrip_OpenMP(benchmark::State& state) {
  const auto count = static_cast<std::int64_t>(state.range(0));
  std::vector<std::uint64_t> out(static_cast<std::size_t>(count));
  for (auto _ : state) {
#pragma omp parallel for schedule(dynamic) num_threads(2)
    for (std::int64_t i = 0; i < count; ++i) out[i] = trivial_work(static_cast<std::size_t>(i));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RoundTrip_OpenMP)->Apply(round_trip_settings);

void BM_RoundTrip_Pool(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  WorkerPool& pool = pool_of(2);
  std::vector<std::uint64_t> out(count);
  for (auto _ : state) {
    collect_indexed(pool, count, &trivial_work, std::span<std::uint64_t>(out));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RoundTrip_Pool)->Apply(round_trip_settings);

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
