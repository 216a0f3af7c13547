// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "nubrik/base/event.h"
#include "nubrik/base/thread_notifier.h"
#include "nubrik/screen/frame_time.h"

namespace nubrik {

// The frame thread's pause between iterations. Unpaced (the default) it is
// a 1-millisecond pause, so callbacks run on every pass. Paced, iterations
// start on ticks of a fixed interval counted from one origin on the steady
// clock, so that lateness never accumulates: a late iteration is followed by
// the next tick still ahead, skipping those already past. An idle frame
// thread (nothing to compose) also wakes early for wake(), when input came.
class FramePacer {
 public:
  using Clock = std::chrono::steady_clock;

  // Zero or less: unpaced. Callable from any thread; applies from the next
  // pause on.
  void setInterval(std::chrono::nanoseconds interval) { intervalNs_ = interval.count(); }
  std::chrono::nanoseconds getInterval() const {
    return std::chrono::nanoseconds(intervalNs_.load());
  }
  // Ends an idle pause early, or the next one. Callable from any thread.
  void wake() { wakeEvent_.set(); }

  // The frame thread's side. restart() before each run of the thread.
  void restart();
  FrameTime beginRound();
  // Throws InterruptedException once the thread is asked to stop.
  void pause(ThreadNotifier& notifier, bool idle);

 private:
  std::atomic<int64_t> intervalNs_{0};
  Event wakeEvent_;
  // The frame thread's own.
  Clock::time_point lastRound_{};
  bool hadRound_ = false;
  Clock::time_point origin_{};
  int64_t originInterval_ = 0;
};

}  // namespace nubrik
