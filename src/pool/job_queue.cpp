#include "pool/job_queue.h"

namespace tessary {

bool JobDeque::push(Job& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t size = size_.load(std::memory_order_relaxed);
  if (size == CAPACITY) return false;
  ring_[(oldest_ + size) % CAPACITY] = &job;
  size_.store(size + 1, std::memory_order_relaxed);
  return true;
}

Job* JobDeque::pop_newest() {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t size = size_.load(std::memory_order_relaxed);
  if (size == 0) return nullptr;
  size_.store(size - 1, std::memory_order_relaxed);
  return ring_[(oldest_ + size - 1) % CAPACITY];
}

Job* JobDeque::take_oldest() {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t size = size_.load(std::memory_order_relaxed);
  if (size == 0) return nullptr;
  Job* job = ring_[oldest_];
  oldest_ = (oldest_ + 1) % CAPACITY;
  size_.store(size - 1, std::memory_order_relaxed);
  return job;
}

void SharedQueue::push(Job& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  job.next = nullptr;
  if (tail_ == nullptr) {
    head_ = &job;
  } else {
    tail_->next = &job;
  }
  tail_ = &job;
  nonempty_.store(true, std::memory_order_relaxed);
}

Job* SharedQueue::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  Job* job = head_;
  if (job == nullptr) return nullptr;
  head_ = job->next;
  if (head_ == nullptr) tail_ = nullptr;
  nonempty_.store(head_ != nullptr, std::memory_order_relaxed);
  return job;
}

}  // namespace tessary
