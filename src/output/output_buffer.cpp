#include "output/output_buffer.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

namespace tessary {
namespace {

// The largest size an object may have; the growth rule never asks for more.
constexpr std::size_t MAX_CAPACITY = static_cast<std::size_t>(PTRDIFF_MAX);

char* allocate_bytes(char* old_bytes, std::size_t capacity) {
  void* bytes = std::realloc(old_bytes, capacity);
  if (bytes == nullptr) throw std::bad_alloc();
  return static_cast<char*>(bytes);
}

}  // namespace

OutputBuffer::OutputBuffer()
    : bytes_(allocate_bytes(nullptr, INITIAL_CAPACITY)), capacity_(INITIAL_CAPACITY) {}

OutputBuffer::OutputBuffer(OutputBuffer&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

OutputBuffer& OutputBuffer::operator=(OutputBuffer&& other) noexcept {
  if (this != &other) {
    std::free(bytes_);
    bytes_ = std::exchange(other.bytes_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

void OutputBuffer::grow(std::size_t additional) {
  if (additional > MAX_CAPACITY - size_) throw std::bad_alloc();
  const std::size_t needed = size_ + additional;
  const std::size_t doubled = capacity_ > MAX_CAPACITY / 2 ? MAX_CAPACITY : 2 * capacity_;
  const std::size_t capacity = std::max({MIN_CAPACITY, needed, doubled});
  bytes_ = allocate_bytes(bytes_, capacity);  // on failure the old bytes stay as they were
  capacity_ = capacity;
}

}  // namespace tessary
