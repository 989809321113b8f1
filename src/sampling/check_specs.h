// check_specs: the problems of a specs document, found without generating anything.
//
// The rules are the samplers' own: each kind's unit (kinds/) states its parameter fault, which its
// sampler panics on, and its further findings (for a weighted choice, picks_past of index_pick.h
// over the weights and total that make_choice derives), so the checker and the samplers cannot
// disagree. The document is read in the package's language (read_specs).
//
//   error     The document does not parse: the reader's error, with its display text and
//             position, and nothing else. Or a spec that fails for every entity, with the message
//             that building raises: an empty integer range, a float range that is empty, NaN or
//             not finite, a std_dev that is not finite, a weighted choice whose every pick lands
//             past its values. (When such picks land on more than one position, which one depends
//             on the draw: the message then names the range of indexes.)
//   may fail  A weighted choice whose pick lands past its values for some draws, with the share
//             of entities expected to fail.
//   warning   Legal but likely a mistake: a name used by an earlier spec, whose values are
//             overwritten; a spec named "id"; a normal "min" above "max"; weights that are all 0.
//             And a member that generate_entities (which reads only the original language)
//             ignores but every other output honours (`null_rate`, `decimals`, `hidden`), and a
//             member that nothing reads (a typo).
//
// Not problems: a choice with no values (it gives null and its weights are never looked at), a
// negative or zero std_dev. A document cannot hold an infinite or NaN number (the reader refuses
// numbers out of a double's range), so no weight is ever infinite or NaN here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "datasets/dataset.h"
#include "kinds/kind_unit.h"

namespace tessary {

// "error", "may fail" or "warning".
const char* severity_name(Severity severity);

struct SpecProblem {
  Severity severity = Severity::Error;
  std::string message;
  std::optional<std::size_t> index;  // position in the attribute list; none for a reading error
  std::optional<std::string> name;   // the attribute's name; none for a reading error
  // Where the attribute's "{" is: its 1-based line and the bytes of that line up to and including
  // the "{". For a reading error its own position, 0 and 0 when it has none.
  std::size_t line = 0;
  std::size_t column = 0;
};

// The problems of a specs document in document order (by spec, and within a spec the error or
// "may fail" before the warnings). Empty when the document is clean. A data set's document
// (datasets/dataset.h) gives the problems of each of its tables in document order, their messages
// starting with "table `name`: ". Any byte string is safe input; nothing throws except
// std::bad_alloc. Thread-safe.
std::vector<SpecProblem> check_specs(std::string_view text);

// The problems of the specs of one table of a data set read from `text` (dataset.tables[t]), their
// messages starting with `label`.
void check_dataset_table(std::string_view text, const DatasetTable& table, std::string_view label,
                         std::vector<SpecProblem>& problems);

// The problems of every table of a data set read from `text`, in document order, each message
// starting with "table `name`: ".
void check_dataset(std::string_view text, const Dataset& dataset,
                   std::vector<SpecProblem>& problems);

}  // namespace tessary
