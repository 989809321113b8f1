// Column batches over the five-spec example list, on one thread, for batches of N rows:
//   BM_AppendRows/N     appending one built record per row to a batch (the five numeric columns
//                       and the ids), allocation and finish included;
//   BM_CopyRows/N       the baseline: copying the same bytes row by row into buffers from malloc;
//   BM_BuildEntities/N  building N entities alone, into one reused record;
//   BM_BuildBatch/N     build_column_block over the same ids: sampling plus appending.
// At 4096 rows everything stays in cache, which measures the loops alone. Larger batches are fresh
// memory from the system: faulting it in costs more than filling it, which the batch's huge pages
// (for buffers of 2 MiB and more, i.e. 2^18 rows of an 8-byte column) mostly avoid.
//
// Run a Release build on one core, e.g.
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON
//   cmake --build build/bench --target column_block_bench
//   taskset -c 0 build/bench/column_block_bench --benchmark_repetitions=5
// Targets: BM_AppendRows/4096 at most 5x BM_CopyRows/4096; BM_AppendRows/1048576 at most
// BM_CopyRows/1048576; BM_BuildBatch/262144 at most 1.3x BM_BuildEntities/262144.
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
BENCHMARK(BM_AppendRows)->Arg(4096)->Arg(65536)->Arg(1 << 20);

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
BENCHMARK(BM_CopyRows)->Arg(4096)->Arg(65536)->Arg(1 << 20);

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
BENCHMARK(BM_BuildEntities)->Arg(65536)->Arg(1 << 18);

void BM_BuildBatch(benchmark::State& state) {
  const auto kRows = static_cast<std::uint64_t>(state.range(0));
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
BENCHMARK(BM_BuildBatch)->Arg(65536)->Arg(1 << 18);

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
