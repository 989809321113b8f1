// The stream vectors: published cases of seed, specs and id range with the SHA-256 of their JSON
// text, and the checker that regenerates a case bit for bit.
//
// The vectors file is a JSON object (python/tessary/data/stream_vectors.json, written by
// tools/make_stream_vectors.py):
//   {"stream_version": 1, "generator": "...", "cases": [CASE, ...]}
// and each CASE:
//   {"name": "...", "seed": u64, "specs": "specs document text", "start": u64, "stop": u64,
//    "sha256": "64 hex digits", "first": ["entity text", ...], "paths": ["sampler path", ...],
//    "language": "package"}   (language optional)
// The JSON text of a case is the array of the entities with ids start .. stop - 1: "[", the entity
// objects joined by ",", "]", as a table of the package's language writes it. For start 0 it is
// also the text of generate_entities(seed, stop, specs), unless the case is marked as of the
// package's language (it uses a kind or member that only the package reads).
// "first" holds the full text of the first entities of the range, "paths" the sampler paths the
// case is meant to take (confirmed by the C++ tests, not by this checker).
//
// The checks run the streaming writer and the generation pipeline on the process's worker pool;
// call them from one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tessary::vectors {

struct StreamCase {
  std::string name;
  std::uint64_t seed = 0;
  std::string specs;  // the specs document, byte for byte as the generator was given it
  std::uint64_t start = 0;
  std::uint64_t stop = 0;
  std::string sha256;               // hex digest of the range's JSON text
  std::vector<std::string> first;   // text of entities start, start + 1, ...
  std::vector<std::string> paths;   // sampler paths the case covers
  bool package_language = false;    // "language": "package"
};

struct StreamVectors {
  std::uint64_t stream_version = 0;
  std::vector<StreamCase> cases;
};

// Reads a vectors file with the specs reader's own JSON reader. Every member named above is
// required and must have its type; a case needs start <= stop and len(first) <= stop - start.
// Returns the vectors, or a message naming the first problem.
std::variant<StreamVectors, std::string> parse_stream_vectors(std::string_view text);

// Reads and parses the file at `path`.
std::variant<StreamVectors, std::string> load_stream_vectors(const std::string& path);

// What regenerating a case gave: the digest of the range's text and the text of its first
// entities (as many as the case lists).
struct RangeText {
  std::string sha256;
  std::vector<std::string> first;
};

// Streams the text of the entities start .. stop - 1 (the streaming writer, JSON array form) and
// digests it as it comes; the first entities are built and written one by one on their own.
// Returns the read error's display text when the specs do not read; a sampler panic propagates.
std::variant<RangeText, std::string> regenerate(const StreamCase& c);

// Checks one case: the specs read, the regenerated text matches the digest and the first
// entities, and, for a range from 0, the generation pipeline's whole text has the same digest.
// Returns an empty string when all match, else what differs (a panic is reported as a mismatch).
std::string check_case(const StreamCase& c);

}  // namespace tessary::vectors
