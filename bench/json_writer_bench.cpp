// JSON writer: write_entities over 10^5 records shaped like the seed-7 five-spec list, against
// memcpy of the same number of bytes in the same run.
//
// The records hold values of the kinds and distributions the samplers give for these specs,
// drawn per entity from entity_rng(7, id): an integer in 18..80, a double in [0, 1), a
// normal(100, 15) double (Box-Muller) and two values borrowed from the choice lists [10, 20, 30]
// (uniform, and weighted 1:2:3). Compare the rows' times: write_entities / memcpy.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "output/json_writer.h"
#include "random/xoshiro.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"

namespace {

using namespace tessary;

constexpr std::uint64_t SEED = 7;
constexpr std::uint64_t RECORD_COUNT = 100000;

JsonArray tens() {
  return {JsonNumber::from_u64(10), JsonNumber::from_u64(20), JsonNumber::from_u64(30)};
}

struct Workload {
  std::vector<AttrSpec> specs;
  EntityLayout layout;
  std::vector<EntityRecord> records;

  Workload() {
    specs = {{"age", UniformInt{18, 80}},
             {"score", UniformFloat{0.0, 1.0}},
             {"height", Normal{100.0, 15.0, {}, {}}},
             {"tier", make_choice(tens(), {})},
             {"weighted_tier", make_choice(tens(), {1.0, 2.0, 3.0})}};
    layout = layout_entities(specs);
    const std::vector<JsonValue>& plain = std::get<Choice>(specs[3].kind).values;
    const std::vector<JsonValue>& weighted = std::get<Choice>(specs[4].kind).values;
    records.reserve(RECORD_COUNT);
    for (std::uint64_t id = 0; id < RECORD_COUNT; ++id) {
      Xoshiro256PlusPlus rng = entity_rng(SEED, id);
      EntityRecord record = make_entity_record(layout);
      record.id = id;
      record.values[0] =
          AttributeValue::from_i64(18 + static_cast<std::int64_t>(rng.next_u64() % 63));
      record.values[1] = AttributeValue::from_f64(unit_f64(rng));
      const double radius = std::sqrt(-2.0 * std::log(open01_f64(rng)));
      record.values[2] = AttributeValue::from_f64(
          100.0 + 15.0 * radius * std::cos(2.0 * std::numbers::pi * unit_f64(rng)));
      record.values[3] = AttributeValue::borrow(plain[rng.next_u64() % 3]);
      const double u = 6.0 * unit_f64(rng);
      record.values[4] = AttributeValue::borrow(weighted[u < 1.0 ? 0 : u < 3.0 ? 1 : 2]);
      records.push_back(std::move(record));
    }
  }
};

const Workload& workload() {
  static const Workload instance;
  return instance;
}

void BM_write_entities(benchmark::State& state) {
  const Workload& w = workload();
  std::size_t bytes = 0;
  for (auto _ : state) {
    OutputBuffer text = write_entities(w.records);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_memcpy_same_bytes(benchmark::State& state) {
  const OutputBuffer text = write_entities(workload().records);
  std::vector<char> copy(text.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), text.data(), text.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}

BENCHMARK(BM_write_entities)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_memcpy_same_bytes)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
