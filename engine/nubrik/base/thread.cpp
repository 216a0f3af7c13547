#include "nubrik/base/thread.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace nubrik {

Thread::~Thread() {
  try {
    stop();
  } catch (...) {
    // The interrupt could not be set; the thread must still not outlive us.
    join();
  }
}

void Thread::start(ThreadBody body) {
  // A second start would overwrite the handle of a thread nobody could then
  // join (one whose body has returned still waits for its join).
  if (isRunning()) throw std::logic_error("Thread::start: the thread runs; stop it first");
  body_ = std::move(body);
  notifier_.interruptEvent().reset();
  handle_ = platform::startThread(&Thread::threadEntry, this);
}

namespace {

// The Thread whose body runs on this thread, if any.
thread_local const Thread* runningBody = nullptr;

}  // namespace

bool Thread::isCallingThread() const { return runningBody == this; }

void Thread::refuseSelfJoin() const {
  // A body that stopped its own thread would wait for itself for ever.
  if (runningBody == this) throw std::logic_error("a thread cannot join itself");
}

void Thread::join() {
  refuseSelfJoin();
  if (handle_ == nullptr) return;
  lastExitCode_ = platform::joinThread(handle_);
  handle_ = nullptr;
}

uint32_t Thread::threadEntry(void* argument) {
  auto* thread = static_cast<Thread*>(argument);
  runningBody = thread;
  try {
    if (!thread->body_) throw std::bad_function_call();
    thread->body_(thread->notifier_);
    return kExitSuccess;
  } catch (...) {
    // Contained here: a body's failure ends only its own thread.
    return kExitFailure;
  }
}

}  // namespace nubrik
