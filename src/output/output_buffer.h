// OutputBuffer: a growable byte buffer that the JSON writer appends to.
//
// A new buffer holds no bytes and has room for 128. When an append does not fit, the capacity
// becomes the largest of 8, the length needed and twice the old capacity, so appending n bytes one
// piece at a time costs O(n) copying in total. Running out of memory (or asking for more than a
// buffer can address) throws std::bad_alloc and leaves the buffer as it was; the buffer owns its
// bytes, so nothing leaks when the exception unwinds. A buffer is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tessary {

class OutputBuffer {
 public:
  static constexpr std::size_t INITIAL_CAPACITY = 128;
  static constexpr std::size_t MIN_CAPACITY = 8;

  OutputBuffer();  // empty, with room for INITIAL_CAPACITY bytes
  OutputBuffer(OutputBuffer&& other) noexcept;
  OutputBuffer& operator=(OutputBuffer&& other) noexcept;
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() { std::free(bytes_); }

  // The bytes written so far. data() is null only while the capacity is 0 (after the buffer was
  // moved from); the pointer stays valid until the next growth, release or move.
  const char* data() const noexcept { return bytes_; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  std::string_view view() const noexcept { return {bytes_, size_}; }

  // Makes room for at least `additional` more bytes, growing by the rule above when needed.
  void reserve(std::size_t additional) {
    if (additional > capacity_ - size_) grow(additional);
  }

  void append(const char* bytes, std::size_t count) {
    if (count == 0) return;
    reserve(count);
    std::memcpy(bytes_ + size_, bytes, count);
    size_ += count;
  }
  void append(std::string_view text) { append(text.data(), text.size()); }

  void push_back(char byte) {
    reserve(1);
    bytes_[size_++] = byte;
  }

  // Appends the N - 1 characters of a string literal as one fixed-size copy.
  template <std::size_t N>
  void append_literal(const char (&text)[N]) {
    static_assert(N > 1);
    reserve(N - 1);
    std::memcpy(bytes_ + size_, text, N - 1);
    size_ += N - 1;
  }

  // Appends the first `count` bytes of the BlockSize bytes at `block` (count <= BlockSize) with one
  // fixed-size copy of the whole block.
  template <std::size_t BlockSize>
  void append_prefix(const void* block, std::size_t count) {
    reserve(BlockSize);
    std::memcpy(bytes_ + size_, block, BlockSize);
    size_ += count;
  }

  // For writers that produce their text in place: after reserve(n), up to n bytes may be written
  // at tail(), and advance(k) then adds the first k of them (k <= n) to the buffer.
  char* tail() noexcept { return bytes_ + size_; }
  void advance(std::size_t count) noexcept { size_ += count; }

  void clear() noexcept { size_ = 0; }

 private:
  [[gnu::cold]] void grow(std::size_t additional);

  char* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tessary
