#include "generators/entities/samplers.h"

#include <string>

#include "output/number_text.h"
#include "base/panic.h"

namespace tessary::sampler_failure {

void empty_int_range(SourceLocation where) {
  panic("cannot sample empty range", where);
}

void range_error(const char* error, SourceLocation where) {
  panic(std::string("called `Result::unwrap()` on an `Err` value: ") + error, where);
}

void index_out_of_bounds(std::uint64_t len, std::uint64_t index, SourceLocation where) {
  char len_text[U64_TEXT_CAPACITY];
  char index_text[U64_TEXT_CAPACITY];
  const std::size_t len_start = write_u64(len, len_text);
  const std::size_t index_start = write_u64(index, index_text);
  std::string message = "index out of bounds: the len is ";
  message.append(len_text + len_start, U64_TEXT_CAPACITY - len_start);
  message += " but the index is ";
  message.append(index_text + index_start, U64_TEXT_CAPACITY - index_start);
  panic(std::move(message), where);
}

}  // namespace tessary::sampler_failure
