#include "pool/thread_count.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "base/uint128.h"

namespace tessary {

std::optional<std::size_t> parse_thread_count(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::size_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::size_t choose_thread_count(std::optional<std::string_view> num_threads,
                                std::optional<std::string_view> rs_num_cpus,
                                std::size_t default_count) {
  std::optional<std::size_t> chosen;
  if (num_threads) chosen = parse_thread_count(*num_threads);
  // Only an unset or unparsable first variable passes the decision on; its 0 means the default.
  if (!chosen && rs_num_cpus) chosen = parse_thread_count(*rs_num_cpus);
  const std::size_t count = chosen.value_or(0) == 0 ? default_count : *chosen;
  return std::min(count, MAX_THREADS);
}

std::size_t processors_or_one(long sysconf_answer) {
  return sysconf_answer > 0 ? static_cast<std::size_t>(sysconf_answer) : 1;
}

std::size_t thread_count_from_environment() {
  auto read = [](const char* name) -> std::optional<std::string_view> {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string_view(value);
  };
  return choose_thread_count(read("RAYON_NUM_THREADS"), read("RAYON_RS_NUM_CPUS"),
                             processors_or_one(sysconf(_SC_NPROCESSORS_ONLN)));
}

std::uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  const Uint128 bytes = static_cast<Uint128>(pages) * static_cast<Uint128>(page_size);
  return bytes > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(bytes);
}

}  // namespace tessary
