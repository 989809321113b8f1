// Column batches over the five-spec example list, on one thread, for batches of N rows:
//   BM_BuildEntities/N  building N entities alone, into one reused record;
//   BM_BuildBatch/N     build_column_block over the same ids: sampling into the columns,
//                       allocation and finish included;
//   BM_CopyRows/N       a floor for the storing part: the batch's bytes (six 8-byte columns and
//                       two bitmaps) written row by row into buffers fresh from malloc.
// At 4096 rows the loops run in cache, but malloc hands the freed buffers back to the system and
// faults them in again in every iteration. Larger batches are fresh memory from the system:
// faulting it in costs more than filling it, which the batch's huge pages (for buffers of 2 MiB
// and more, i.e. 2^18 rows of an 8-byte column) mostly avoid.
//
// Run a Release build on one core, e.g.
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON
//   cmake --build build/bench --target column_block_bench
//   taskset -c 0 build/bench/column_block_bench --benchmark_repetitions=5
// Target: BM_BuildBatch/262144 at most BM_BuildEntities/262144 + BM_CopyRows/262144 (storing a
// row costs no more than copying its bytes).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <variant>
#include <vector>

#include "../tests/cpp/sampling/example_specs.h"
#include "columns/column_block.h"
#include "sampling/build_entity.h"

namespace tessary {
namespace {

constexpr std::uint64_t kSeed = 7;

struct Example {
  std::vector<AttrSpec> specs = testing::five_example_specs();
  EntityLayout layout = layout_entities(specs);
  ColumnSchema schema = std::get<ColumnSchema>(plan_columns(specs, layout));
};

// The cells of the same batch: six 8-byte columns and two validity bitmaps, copied row by row.
void BM_CopyRows(benchmark::State& state) {
  const auto kRows = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint64_t> source(kRows * 6, 42);
  for (auto _ : state) {
    std::uint64_t* columns[6];
    for (auto& column : columns) {
      column = static_cast<std::uint64_t*>(std::malloc(kRows * sizeof(std::uint64_t)));
    }
    auto* bitmaps = static_cast<std::uint8_t*>(std::calloc(2, kRows / 8));
    for (std::size_t row = 0; row < kRows; ++row) {
      for (int c = 0; c < 6; ++c) columns[c][row] = source[row * 6 + c];
      bitmaps[row >> 3] |= static_cast<std::uint8_t>(1u << (row & 7));
      bitmaps[kRows / 8 + (row >> 3)] |= static_cast<std::uint8_t>(1u << (row & 7));
    }
    benchmark::DoNotOptimize(columns);
    benchmark::ClobberMemory();
    for (auto* column : columns) std::free(column);
    std::free(bitmaps);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_CopyRows)->Arg(4096)->Arg(65536)->Arg(1 << 18);

void BM_BuildEntities(benchmark::State& state) {
  const auto kRows = static_cast<std::uint64_t>(state.range(0));
  const Example example;
  EntityRecord record = make_entity_record(example.layout);
  std::uint64_t begin = 0;
  for (auto _ : state) {
    for (std::uint64_t i = begin; i < begin + kRows; ++i) {
      build_entity(kSeed, i, example.specs, record);
      benchmark::DoNotOptimize(record.values.data());
      benchmark::ClobberMemory();
    }
    begin += kRows;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_BuildEntities)->Arg(4096)->Arg(65536)->Arg(1 << 18);

void BM_BuildBatch(benchmark::State& state) {
  const auto kRows = static_cast<std::uint64_t>(state.range(0));
  const Example example;
  std::uint64_t begin = 0;
  for (auto _ : state) {
    nanoarrow::UniqueArray batch =
        build_column_block(kSeed, begin, begin + kRows, example.specs, example.schema);
    benchmark::DoNotOptimize(batch->children);
    begin += kRows;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_BuildBatch)->Arg(4096)->Arg(65536)->Arg(1 << 18);

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
