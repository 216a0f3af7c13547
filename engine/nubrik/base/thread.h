// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>
#include <functional>

#include "nubrik/base/platform/platform.h"
#include "nubrik/base/thread_notifier.h"

namespace nubrik {

using ThreadBody = std::function<void(ThreadNotifier&)>;

// Runs one body on its own platform thread. A thread is always stopped by
// setting its interrupt event and joining it without time limit.
class Thread {
 public:
  static constexpr uint32_t kExitSuccess = 0;
  static constexpr uint32_t kExitFailure = 0xFFFFFFFF;

  Thread() = default;
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Runs `body` on a new thread. Throws std::logic_error while a thread runs
  // (until stop() has joined it). A thread the platform cannot start is not
  // reported: isRunning() stays false. An empty body is allowed: it fails
  // like one that throws (kExitFailure).
  void start(ThreadBody body);
  // Interrupts and joins; does nothing when no thread runs. Called from the
  // thread's own body it throws std::logic_error rather than hang.
  void stop() {
    refuseSelfJoin();
    if (!isRunning()) return;
    interrupt();
    join();
  }
  // The two halves of stop(), so that an owner of many threads can
  // interrupt them all before joining the first.
  void interrupt() { notifier_.interruptEvent().set(); }
  void join();

  // True when called from this thread's own body.
  bool isCallingThread() const;
  // True from a successful start until the thread is joined.
  bool isRunning() const { return handle_ != nullptr; }
  // kExitSuccess when the last joined body returned, kExitFailure when a
  // std::exception escaped it.
  uint32_t lastExitCode() const { return lastExitCode_; }
  ThreadNotifier& notifier() { return notifier_; }

 private:
  static uint32_t threadEntry(void* thread);
  void refuseSelfJoin() const;

  platform::ThreadObject* handle_ = nullptr;
  ThreadNotifier notifier_;
  ThreadBody body_;
  uint32_t lastExitCode_ = kExitSuccess;
};

}  // namespace nubrik
