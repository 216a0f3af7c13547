// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace nubrik {

// Where the frame thread and its workers meet, without a lock: one word
// holds the frame's generation, whether it is open, and how many workers
// are inside it. A worker joins a frame only while it is open and still the
// generation it saw; the frame thread closes it once nobody is inside, so a
// worker that comes late simply skips the frame and is never waited for.
// Threads waiting for the word to change may sleep on it; waking them costs
// nothing while nobody sleeps.
class FrameGate {
 public:
  // The generation a state of the word belongs to.
  static constexpr uint32_t generationOf(uint32_t state) { return state & ~(kOpen | kJoinedMask); }

  uint32_t state() const { return state_.load(std::memory_order_acquire); }
  // The generation of the last frame opened.
  uint32_t generation() const { return generationOf(state_.load(std::memory_order_relaxed)); }

  // Frame thread: opens the next generation with nobody inside and wakes
  // the sleepers; what the thread wrote before is published to every worker
  // that joins.
  void open();
  // Frame thread: closes the open frame once no worker is inside, spinning
  // a while, then sleeping.
  void closeWhenEmpty();

  // Worker: enters the frame of `state` if it is still open and of the same
  // generation; returns whether it did.
  bool tryJoin(uint32_t state);
  void leave();

  // Makes every waiting worker see a new generation, and stop.
  void stop();
  bool isStopping() const { return stopping_.load(); }

  // Sleeps while the word holds `expected`, at most `timeout`; may return
  // early.
  void sleepWhile(uint32_t expected,
                  std::chrono::nanoseconds timeout = std::chrono::nanoseconds::max());
  void wakeSleepers();

 private:
  // Generation in bits 17 to 31, open in bit 16, workers inside in 0 to 15.
  static constexpr uint32_t kOpen = 1u << 16;
  static constexpr uint32_t kJoinedMask = kOpen - 1;
  static constexpr uint32_t kGeneration = 1u << 17;

  alignas(64) std::atomic<uint32_t> state_{0};
  alignas(64) std::atomic<uint32_t> sleepers_{0};
  alignas(64) std::atomic<bool> stopping_{false};
};

// A polite busy-wait step: lets the other hyper-thread run.
inline void relaxSpin() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace nubrik
