#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#if !defined(_WIN32)
#include <mutex>
#endif

namespace nubrik {

// Mutual exclusion that the holding thread may enter again, and that knows
// whether the calling thread holds it: a thread that would wait for another
// while holding the lock that one needs can then be refused instead of
// hanging. Usable with std::lock_guard and std::unique_lock.
class RecursiveLock {
 public:
#if defined(_WIN32)
  RecursiveLock() noexcept;
  ~RecursiveLock();
#else
  RecursiveLock() = default;
#endif
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock() {
    enterSystemLock();
    enter();
  }
  bool try_lock() {
    if (!tryEnterSystemLock()) return false;
    enter();
    return true;
  }
  void unlock() {
    if (--depth_ == 0) owner_.store(std::thread::id(), std::memory_order_relaxed);
    leaveSystemLock();
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

#if defined(_WIN32)
  // A critical section, held in place (it must not move while initialised);
  // the platform layer (platform_win32.cpp) works it.
  void enterSystemLock() noexcept;
  bool tryEnterSystemLock() noexcept;
  void leaveSystemLock() noexcept;
  alignas(void*) unsigned char section_[sizeof(void*) == 8 ? 40 : 24];
#else
  void enterSystemLock() { mutex_.lock(); }
  bool tryEnterSystemLock() { return mutex_.try_lock(); }
  void leaveSystemLock() { mutex_.unlock(); }
  std::recursive_mutex mutex_;
#endif
  std::atomic<std::thread::id> owner_{};
  uint32_t depth_ = 0;
};

}  // namespace nubrik
