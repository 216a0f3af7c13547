#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "nubrik/base/platform/platform.h"

namespace nubrik {

// The platform's recursive lock, which also knows whether the calling thread
// holds it: a thread that would wait for another while holding the lock that
// one needs can then be refused instead of hanging. Usable with
// std::lock_guard and std::unique_lock.
class RecursiveLock {
 public:
  RecursiveLock() = default;
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock() {
    lock_.lock();
    enter();
  }
  bool try_lock() {
    if (!lock_.try_lock()) return false;
    enter();
    return true;
  }
  void unlock() {
    if (--depth_ == 0) owner_.store(std::thread::id(), std::memory_order_relaxed);
    lock_.unlock();
  }

  // Only the holder ever stores its own identity, so the answer is exact for
  // the calling thread.
  bool isHeldByCurrentThread() const {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }

 private:
  void enter() {
    if (depth_++ == 0) owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }

  platform::RecursiveLock lock_;
  std::atomic<std::thread::id> owner_{};
  uint32_t depth_ = 0;
};

}  // namespace nubrik
