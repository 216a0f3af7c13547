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
  // Pauses about 1 millisecond.
  void sleep();
  // Blocks until `target` is set (true) or the interrupt is (throws); the
  // interrupt wins when both are set.
  bool wait(Event& target);

  Event& interruptEvent() { return interruptEvent_; }

 private:
  Event interruptEvent_;
};

}  // namespace nubrik
