// build_entity over the five-spec example list, against a baseline that only makes the entity's
// generator and draws five raw values; both run in the same process, on one thread.
//
// Run a Release build on one core, e.g.
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON
//   cmake --build build/bench --target build_entity_bench
//   taskset -c 0 build/bench/build_entity_bench --benchmark_repetitions=5
// It prints build_entity's time as a multiple of the baseline's (target: at most 4) and counts
// heap allocations per built entity in steady state (target: 0) as the counter allocs/entity.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "../tests/cpp/sampling/example_specs.h"
#include "sampling/build_entity.h"
#include "random/xoshiro.h"

// Every heap allocation of the process goes through these and is counted.
namespace {
std::atomic<std::uint64_t> allocations{0};

void* counted_allocation(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
  return counted_allocation(size);
}
void* operator new[](std::size_t size) {
  return counted_allocation(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace tessary {
namespace {

constexpr std::uint64_t kSeed = 7;

void BM_Baseline(benchmark::State& state) {
  std::uint64_t index = 0;
  for (auto _ : state) {
    Xoshiro256PlusPlus rng = entity_rng(kSeed, index++);
    for (int draw = 0; draw < 5; ++draw) {
      std::uint64_t value = rng.next_u64();
      benchmark::DoNotOptimize(value);
    }
  }
}
BENCHMARK(BM_Baseline);

void BM_BuildEntity(benchmark::State& state) {
  const std::vector<AttrSpec> specs = testing::five_example_specs();
  const EntityLayout layout = layout_entities(specs);
  EntityRecord record = make_entity_record(layout);
  std::uint64_t index = 0;
  build_entity(kSeed, index++, specs, record);  // steady state: everything made before the loop
  const std::uint64_t allocations_before = allocations.load(std::memory_order_relaxed);
  for (auto _ : state) {
    build_entity(kSeed, index++, specs, record);
    benchmark::DoNotOptimize(record.values.data());
    benchmark::ClobberMemory();
  }
  const std::uint64_t allocated = allocations.load(std::memory_order_relaxed) - allocations_before;
  state.counters["allocs/entity"] =
      static_cast<double>(allocated) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BuildEntity);

// The console output, plus the CPU time per iteration of the two benchmarks (the lowest over
// repetitions, the least disturbed by other work on the machine).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const std::string name = run.run_name.function_name;
      double* best = name == "BM_Baseline"      ? &baseline_
                     : name == "BM_BuildEntity" ? &build_
                                                : nullptr;
      if (best == nullptr) continue;
      const double time = run.GetAdjustedCPUTime();
      if (*best == 0 || time < *best) *best = time;
    }
  }

  void print_ratio() const {
    if (baseline_ > 0 && build_ > 0) {
      std::printf("build_entity / baseline = %.2f (target: at most 4)\n", build_ / baseline_);
    }
  }

 private:
  double baseline_ = 0;
  double build_ = 0;
};

}  // namespace
}  // namespace tessary

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  tessary::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratio();
  benchmark::Shutdown();
  return 0;
}
