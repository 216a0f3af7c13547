#include "engine/base/thread.h"

#include <exception>
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
  body_ = std::move(body);
  notifier_.interruptEvent().reset();
  handle_ = platform::startThread(&Thread::threadEntry, this);
}

void Thread::join() {
  if (handle_ == nullptr) return;
  lastExitCode_ = platform::joinThread(handle_);
  handle_ = nullptr;
}

uint32_t Thread::threadEntry(void* argument) {
  auto* thread = static_cast<Thread*>(argument);
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
