// Reading a 10 MB specs document: one choice spec whose "values" hold, in equal shares by bytes,
// integers, doubles with 17 significant digits, ASCII strings without escapes, strings with escapes
// and non-ASCII characters, and small objects of three members.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <variant>

#include "specs/read_specs.h"

namespace {

constexpr std::size_t DOCUMENT_BYTES = 10 << 20;

std::string make_document() {
  std::uint64_t state = 42;
  const auto next = [&state] {  // a 64-bit LCG: enough variety for the texts
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state >> 11;
  };
  std::string shares[5];
  const std::size_t share = DOCUMENT_BYTES / 5;
  char buffer[64];
  while (shares[0].size() < share) {
    shares[0] += std::to_string(next() % 2000000000) + ",";
  }
  while (shares[1].size() < share) {
    std::snprintf(buffer, sizeof buffer, "%.16e,", static_cast<double>(next()) * 0x1p-40);
    shares[1] += buffer;
  }
  while (shares[2].size() < share) {
    shares[2] += "\"plain ascii text " + std::to_string(next() % 100000) + "\",";
  }
  while (shares[3].size() < share) {
    shares[3] += "\"caf\xC3\xA9 \\\"quoted\\\"\\n\\u00e9\\ud83d\\ude00 \xE2\x82\xAC" +
                 std::to_string(next() % 1000) + "\",";
  }
  while (shares[4].size() < share) {
    shares[4] += "{\"id\":" + std::to_string(next() % 100000) + ",\"label\":\"item\",\"ok\":true},";
  }
  std::string values;
  for (const std::string& part : shares) values += part;
  values.pop_back();  // the last comma
  return R"([{"name":"mixed","type":"choice","values":[)" + values + "]}]";
}

void BM_ReadSpecs(benchmark::State& state) {
  const std::string document = make_document();
  for (auto _ : state) {
    auto result = tessary::read_specs(document);
    if (std::holds_alternative<tessary::ReadError>(result)) {
      state.SkipWithError("the document did not read");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}
BENCHMARK(BM_ReadSpecs)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
