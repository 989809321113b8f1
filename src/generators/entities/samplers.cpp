#include "generators/entities/samplers.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <source_location>
#include <string>
#include <variant>

#include "generators/entities/index_pick.h"
#include "generators/entities/standard_normal.h"
#include "output/number_text.h"
#include "records/panic.h"

namespace tessary {
namespace {

// The message of a sampler whose parameters make an invalid distribution; `error` is its name.
[[noreturn, gnu::cold]] void fail_range(const char* error, std::source_location where) {
  panic(std::string("called `Result::unwrap()` on an `Err` value: ") + error, where);
}

[[noreturn, gnu::cold]] void fail_index(std::uint64_t len, std::uint64_t index,
                                        std::source_location where) {
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

struct SampleKind {
  Xoshiro256PlusPlus& rng;

  AttributeValue operator()(const UniformInt& p) const { return sample_uniform_int(p, rng); }
  AttributeValue operator()(const UniformFloat& p) const { return sample_uniform_float(p, rng); }
  AttributeValue operator()(const Normal& p) const { return sample_normal(p, rng); }
  AttributeValue operator()(const Choice& p) const { return sample_choice(p, rng); }
};

}  // namespace

AttributeValue sample_attribute(const AttrSpec& spec, Xoshiro256PlusPlus& rng) {
  return std::visit(SampleKind{rng}, spec.kind);
}

AttributeValue sample_uniform_int(const UniformInt& params, Xoshiro256PlusPlus& rng) {
  if (params.high < params.low) [[unlikely]] {
    panic("cannot sample empty range");
  }
  // The count of values in low..high, wrapping to 0 for the full i64 range.
  const std::uint64_t range =
      static_cast<std::uint64_t>(params.high) - static_cast<std::uint64_t>(params.low) + 1;
  if (range == 0) return AttributeValue::from_i64(static_cast<std::int64_t>(rng.next_u64()));
  const std::uint64_t offset =
      widening_pick<std::uint64_t>(range, [&rng] { return rng.next_u64(); });
  return AttributeValue::from_i64(
      static_cast<std::int64_t>(static_cast<std::uint64_t>(params.low) + offset));
}

AttributeValue sample_uniform_float(const UniformFloat& params, Xoshiro256PlusPlus& rng) {
  const double low = params.low;
  const double high = params.high;
  if (!(low < high)) [[unlikely]] {
    fail_range("EmptyRange", std::source_location::current());
  }
  double scale = high - low;
  if (!std::isfinite(scale)) [[unlikely]] {
    fail_range("NonFinite", std::source_location::current());
  }
  // The largest sample is (1 - 2^-52) * scale + low; rounding may put it above high, so step the
  // scale down one ulp at a time until it does not. (Built without floating-point contraction, so
  // no fused multiply-add changes the rounding here or below.)
  constexpr double kLargestUnit = 1.0 - 0x1p-52;
  while (scale * kLargestUnit + low > high) {
    scale = std::bit_cast<double>(std::bit_cast<std::uint64_t>(scale) - 1);
  }
  const double u = mantissa_f64(rng) - 1.0;
  return AttributeValue::from_f64(u * scale + low);
}

AttributeValue sample_normal(const Normal& params, Xoshiro256PlusPlus& rng) {
  if (!std::isfinite(params.std_dev)) [[unlikely]] {
    fail_range("BadVariance", std::source_location::current());
  }
  double value = params.mean + params.std_dev * standard_normal(rng);
  if (params.min && (std::isnan(value) || value < *params.min)) value = *params.min;
  if (params.max && (std::isnan(value) || value > *params.max)) value = *params.max;
  return AttributeValue::from_f64(value);
}

AttributeValue sample_choice(const Choice& params, Xoshiro256PlusPlus& rng) {
  const std::uint64_t n = params.values.size();
  if (n == 0) return AttributeValue::null();
  const std::uint64_t index =
      params.weights.empty() ? uniform_index(n, rng) : weighted_pick(params.weights, rng);
  if (index >= n) [[unlikely]] {
    fail_index(n, index, std::source_location::current());
  }
  return AttributeValue::borrow(params.values[index]);
}

}  // namespace tessary
