// A data set: tables of entities whose references (kinds/reference.h) point at one another, read
// from one document and a seed.
//
//   {"tables": [{"name": "customers", "scale": 1000, "attributes": [specs]},
//               {"name": "orders", "scale": 50000, "attributes": [...
//                  {"name": "customer_id", "type": "reference", "table": "customers"}]}]}
//
// The tables come in any order. A name is non-empty and safe as a file or folder name: ASCII
// letters, digits, "_", "-" and ".", starting with a letter or a digit; names are distinct. The
// scale is an integer from 0 to 2^64 - 1. References form no cycle: a table refers neither to
// itself nor, through others, back to itself.
//
// Each table draws its entities under its own seed, table_seed(seed, name), as a table of its
// own would under that seed: adding or renaming a table changes no other table's own values
// (only what children copy from a renamed parent).
//
// Reading happens in two passes: the first reads the document's syntax and the tables' names,
// scales and the references between them, which order them parents first; the second reads each
// table's attributes in that order, with its parents in scope, so that a reference knows the kind
// and column of what it copies. Any byte string is safe input; nothing throws except
// std::bad_alloc. A Dataset is immutable: any number of threads may build from it at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "datasets/referenced_table.h"
#include "specs/read_error.h"
#include "specs/read_specs.h"

namespace tessary {

// The seed of table `name` of a data set made with `seed`:
// splitmix64(seed ^ fnv1a64(name), 3) (random/xoshiro.h, sampling/entity_draws.h).
std::uint64_t table_seed(std::uint64_t seed, std::string_view name);

struct DatasetTable {
  std::shared_ptr<const ReferencedTable> table;  // name, scale, seed, specs, draws
  // The attribute list's bytes in the document, [begin, end).
  std::size_t attributes_begin = 0;
  std::size_t attributes_end = 0;
  // Where each spec's "{" is, and the members of each that the original language does not read
  // (read_specs.h), for check_specs.
  std::vector<std::size_t> starts;
  std::vector<std::vector<MemberNote>> notes;
};

struct Dataset {
  std::vector<DatasetTable> tables;  // in document order
};

// Whether a document is a data set's (an object) rather than a list of attributes: its first byte
// after whitespace is "{".
bool is_dataset_document(std::string_view text);

// Reads and checks a data set document (UTF-8) made with `seed`: the first problem is a ReadError
// with its position, prefixed with the table it concerns. The scales are checked here too (a
// sequence that leaves int64, a unique_int domain smaller than the scale, a reference to a table
// of no entities from a table with some).
[[nodiscard]] std::variant<Dataset, ReadError> read_dataset(std::string_view text,
                                                            std::uint64_t seed);

}  // namespace tessary
