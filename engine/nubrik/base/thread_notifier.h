// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include "nubrik/base/event.h"

namespace nubrik {

// A thread body's channel from its owner: a poll, a short pause and a wait
// that end with InterruptedException once the owner asks the body to stop.
// Only the owning thread's body calls them.
class ThreadNotifier {
 public:
  ThreadNotifier() = default;
  ThreadNotifier(const ThreadNotifier&) = delete;
  ThreadNotifier& operator=(const ThreadNotifier&) = delete;

  // True once the owner has asked the body to stop. Never blocks.
  bool isInterrupted() { return interruptEvent_.wait(0); }
  // Pauses about `timeoutMs` milliseconds (1 by default).
  void sleep(uint32_t timeoutMs = 1);
  // Blocks until `target` is set (true), the interrupt is (throws) or
  // `timeoutMs` have passed (false); the interrupt wins when both are set.
  bool wait(Event& target, uint32_t timeoutMs = Event::kForever);

  Event& interruptEvent() { return interruptEvent_; }

 private:
  Event interruptEvent_;
};

}  // namespace nubrik
