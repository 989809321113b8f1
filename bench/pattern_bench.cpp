// Patterns: draw_pattern per entity, with the entity's generator made and the buffer cleared as a
// kind would. Each row draws one pattern; the time per iteration is the time per entity.
// Targets: the phone pattern well under 100 ns.
//
//   pattern_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <variant>

#include "strings/pattern.h"

namespace {

using namespace tessary;

constexpr std::uint64_t SEED = 7;

void draw_entities(benchmark::State& state, const char* text) {
  const Pattern pattern = std::get<Pattern>(compile_pattern(text));
  OutputBuffer out;
  std::uint64_t index = 0;
  for (auto _ : state) {
    Xoshiro256PlusPlus rng = entity_rng(SEED, index++);
    out.clear();
    draw_pattern(pattern, rng, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

BENCHMARK_CAPTURE(draw_entities, phone, "\\+1-[2-9]\\d{2}-\\d{3}-\\d{4}");
BENCHMARK_CAPTURE(draw_entities, email, "[A-Za-z0-9._%+-]{3,12}@(example|test)\\.(com|org)");
BENCHMARK_CAPTURE(draw_entities, order, "ORD-[A-Z]{3}-\\d{6}");
BENCHMARK_CAPTURE(draw_entities, greek, "[α-ω]{4,8}( [α-ω]{4,8}){0,3}");
BENCHMARK_CAPTURE(draw_entities, nested, "((ab|cd)[x-z]{1,3}){2,5}");

}  // namespace

BENCHMARK_MAIN();
