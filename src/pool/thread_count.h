// What the machine offers the process: the number of worker threads of the process-wide pool,
// decided once from the environment, and the physical memory.
//
// RAYON_NUM_THREADS is read first, then RAYON_RS_NUM_CPUS, then the number of online processors.
// The decision itself is a pure function over the two variables' values, so that every rule can be
// checked without touching the process environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tessary {

inline constexpr std::size_t MAX_THREADS = 65535;

// An unsigned decimal number: ASCII digits with one optional leading "+", nothing else (no spaces,
// no sign "-", at least one digit), and no overflow of std::size_t. A text that is not valid UTF-8
// holds a byte above 0x7F and is rejected like any other non-digit. Returns nullopt when
// unparsable.
std::optional<std::size_t> parse_thread_count(std::string_view text);

// The thread count from the values of RAYON_NUM_THREADS and RAYON_RS_NUM_CPUS (nullopt: unset):
// the first variable when it parses to 1 or more; when it parses to 0, the default; when it is
// unset or unparsable, the second variable in the same way, where 0, unset and unparsable all mean
// the default. The result is capped at MAX_THREADS. Requires: default_count >= 1.
std::size_t choose_thread_count(std::optional<std::string_view> num_threads,
                                std::optional<std::string_view> rs_num_cpus,
                                std::size_t default_count);

// The default count from sysconf(_SC_NPROCESSORS_ONLN)'s answer: 1 when it is 0 or failed (< 0).
std::size_t processors_or_one(long sysconf_answer);

// choose_thread_count applied to this process's environment and online processors.
std::size_t thread_count_from_environment();

// The machine's physical memory in bytes (0 when the system cannot tell).
std::uint64_t physical_memory_bytes();

}  // namespace tessary
