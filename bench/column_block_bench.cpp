// Column batches over the five-spec example list, on one thread:
//   BM_AppendRows      appending one built record per row to a batch of 65536 rows (the five
//                      numeric columns and the ids), finish included;
//   BM_CopyRows        the baseline: copying the same bytes into freshly allocated buffers;
//   BM_BuildEntities   building the 65536 entities alone, into one reused record;
//   BM_BuildBatch      build_column_block over the same ids: sampling plus appending.
//
// Run a Release build on one core, e.g.
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON
//   cmake --build build/bench --target column_block_bench
//   taskset -c 0 build/bench/column_block_bench --benchmark_repetitions=5
// Appending should cost little more than copying (target: at most 2x BM_CopyRows), and a batch
// little more than its entities (target: BM_BuildBatch at most 1.3x BM_BuildEntities).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <variant>
#include <vector>

#include "../tests/cpp/generators/entities/example_specs.h"
#include "columns/column_block.h"
#include "generators/entities/build_entity.h"

namespace tessary {
namespace {

constexpr std::uint64_t kSeed = 7;
constexpr std::size_t kRows = 65536;

struct Example {
  std::vector<AttrSpec> specs = testing::five_example_specs();
  EntityLayout layout = layout_entities(specs);
  ColumnSchema schema = std::get<ColumnSchema>(plan_columns(specs, layout));
};

void BM_AppendRows(benchmark::State& state) {
  const auto kRows = static_cast<std::size_t>(state.range(0));
  const Example example;
  EntityRecord record = make_entity_record(example.layout);
  build_entity(kSeed, 0, example.specs, record);
  for (auto _ : state) {
    BatchBuilder builder(example.schema, kRows);
    for (std::size_t row = 0; row < kRows; ++row) builder.append(record);
    nanoarrow::UniqueArray batch = builder.finish();
    benchmark::DoNotOptimize(batch->children);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_AppendRows)->Arg(4096)->Arg(65536);

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
BENCHMARK(BM_CopyRows)->Arg(4096)->Arg(65536);

void BM_BuildEntities(benchmark::State& state) {
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
BENCHMARK(BM_BuildEntities);

void BM_BuildBatch(benchmark::State& state) {
  const Example example;
  EntityRecord record = make_entity_record(example.layout);
  std::uint64_t begin = 0;
  for (auto _ : state) {
    nanoarrow::UniqueArray batch =
        build_column_block(kSeed, begin, begin + kRows, example.specs, example.schema, record);
    benchmark::DoNotOptimize(batch->children);
    begin += kRows;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_BuildBatch);

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
