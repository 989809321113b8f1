// Fuzz harness: read_dataset over arbitrary bytes. Whatever the input, reading must end without a
// crash, a leak or undefined behaviour, with a data set or with an error whose position lies
// inside the text. A data set read must build: entity 0 of every table that has entities, through
// every reference, ends with values or with a panic of its parameters, never anything worse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "base/panic.h"
#include "datasets/dataset.h"
#include "records/entity_record.h"
#include "sampling/build_entity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto result = tessary::read_dataset(text, 7);
  if (const auto* error = std::get_if<tessary::ReadError>(&result)) {
    if (error->line == 0 || error->column > size) std::abort();
    return 0;
  }
  tessary::QuietPanics quiet;
  for (const tessary::DatasetTable& table : std::get<tessary::Dataset>(result).tables) {
    if (table.table->scale == 0) continue;
    const tessary::PreparedSpecs& specs = *table.table->specs;
    tessary::EntityRecord record = tessary::make_entity_record(specs.layout);
    try {
      tessary::build_entity(table.table->seed, 0, specs.specs, record);
    } catch (const tessary::Panic&) {
    }
  }
  return 0;
}
