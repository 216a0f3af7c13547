#include "nubrik/screen/frame_gate.h"

#include <algorithm>

#include "nubrik/base/platform/platform.h"

namespace nubrik {

namespace {

// How long the frame thread spins for its workers' last bands before it
// sleeps.
constexpr int kFinishSpins = 8192;

}  // namespace

void FrameGate::open() {
  const uint32_t next = generationOf(state_.load(std::memory_order_relaxed)) + kGeneration;
  state_.store(next | kOpen);
  wakeSleepers();
}

void FrameGate::closeWhenEmpty() {
  // A worker that joins meanwhile is waited for in the next round.
  uint32_t state = state_.load(std::memory_order_acquire);
  for (int spins = 0;;) {
    if ((state & kJoinedMask) == 0) {
      if (state_.compare_exchange_weak(state, state & ~kOpen, std::memory_order_acq_rel,
                                       std::memory_order_acquire)) {
        return;
      }
      continue;
    }
    if (++spins < kFinishSpins) {
      relaxSpin();
    } else {
      sleepWhile(state);
    }
    state = state_.load(std::memory_order_acquire);
  }
}

bool FrameGate::tryJoin(uint32_t state) {
  const uint32_t generation = generationOf(state);
  while ((state & kOpen) != 0 && generationOf(state) == generation) {
    if (state_.compare_exchange_weak(state, state + 1, std::memory_order_acq_rel,
                                     std::memory_order_acquire)) {
      return true;
    }
  }
  return false;
}

void FrameGate::leave() {
  if (((state_.fetch_sub(1) - 1) & kJoinedMask) == 0) wakeSleepers();
}

void FrameGate::stop() {
  stopping_.store(true);
  state_.fetch_add(kGeneration);
  wakeSleepers();
}

void FrameGate::sleepWhile(uint32_t expected, std::chrono::nanoseconds timeout) {
  const uint64_t timeoutNs = timeout == std::chrono::nanoseconds::max()
                                 ? platform::kWaitForever
                                 : static_cast<uint64_t>(std::max<int64_t>(timeout.count(), 0));
  sleepers_.fetch_add(1);
  if (state_.load() == expected) platform::waitOnWord(state_, expected, timeoutNs);
  sleepers_.fetch_sub(1);
}

void FrameGate::wakeSleepers() {
  // Every change of the word that wakes is sequentially consistent, like
  // sleepWhile's count and look: either a sleeper is counted here, or it
  // sees the changed state before it sleeps.
  if (sleepers_.load() != 0) platform::wakeWord(state_);
}

}  // namespace nubrik
