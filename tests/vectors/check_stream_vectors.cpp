// The stream vectors program: regenerates every case of a vectors file and compares it bit for bit.
//
//   check_stream_vectors VECTORS.json
//
// Prints one line per case that differs and a closing "N passed, N failed" line; exits 0 only when
// every case matches, 1 when one differs, 2 when the file cannot be read. It needs nothing but the
// core, so it runs where no test framework is built (a cross-compiled build under an emulator).
#include <cstdio>
#include <string>

#include "stream_vectors.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s VECTORS.json\n", argv[0]);
    return 2;
  }
  auto loaded = tessary::vectors::load_stream_vectors(argv[1]);
  if (const std::string* error = std::get_if<std::string>(&loaded)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error->c_str());
    return 2;
  }
  const auto& vectors = std::get<tessary::vectors::StreamVectors>(loaded);
  std::size_t failed = 0;
  for (const tessary::vectors::StreamCase& c : vectors.cases) {
    const std::string difference = tessary::vectors::check_case(c);
    if (!difference.empty()) {
      ++failed;
      std::printf("FAILED %s: %s\n", c.name.c_str(), difference.c_str());
    }
  }
  std::printf("stream version %llu\n", static_cast<unsigned long long>(vectors.stream_version));
  std::printf("vectors: %zu passed, %zu failed\n", vectors.cases.size() - failed, failed);
  return failed == 0 && !vectors.cases.empty() ? 0 : 1;
}
