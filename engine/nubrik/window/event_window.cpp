#include "nubrik/window/event_window.h"

#include <exception>
#include <mutex>
#include <utility>

#include "nubrik/base/callback_slot.h"

namespace nubrik {

struct EventWindow::Resizer {
  ResizeHandler handler;
  RecursiveLock* lock = nullptr;
};

class EventWindow::ResizerSlot : public CallbackSlot<Resizer> {};

EventWindow::EventWindow() : resizer_(std::make_unique<ResizerSlot>()) {}

EventWindow::~EventWindow() { endInputSources(); }

void EventWindow::setResizeHandler(ResizeHandler handler, RecursiveLock* lock) {
  // A caller that holds the lock of the handler it replaces (a frame
  // callback, for AppWindow's) cannot wait for calls waiting for that lock:
  // those look again once they hold it, and tell the new handler instead.
  const auto holdsLock = [](const Resizer& old) {
    return old.lock != nullptr && old.lock->isHeldByCurrentThread();
  };
  if (handler) {
    resizer_->set(Resizer{std::move(handler), lock}, holdsLock);
  } else {
    resizer_->clear(holdsLock);
  }
}

bool EventWindow::callResizeHandler(uint32_t width, uint32_t height,
                                    const std::function<void()>& then) {
  for (;;) {
    bool replaced = false;
    const bool called = resizer_->call([&](const Resizer& resizer, uint64_t generation) {
      std::unique_lock<RecursiveLock> held;
      if (resizer.lock != nullptr) {
        held = std::unique_lock(*resizer.lock);
        if (!resizer_->isCurrent(generation)) {
          replaced = true;
          return;
        }
      }
      resizer.handler(width, height);
      if (then) then();
    });
    if (!replaced) return called;
  }
}

void EventWindow::surfaceResized(uint32_t width, uint32_t height) {
  std::exception_ptr failure;
  try {
    callResizeHandler(width, height, nullptr);
  } catch (...) {
    failure = std::current_exception();
  }
  input_.push(InputEvent::resize(width, height));
  if (failure) std::rethrow_exception(failure);
}

void EventWindow::resizeThroughHandler(uint32_t width, uint32_t height,
                                       const std::function<void()>& apply) {
  const auto step = [&] {
    apply();
    input_.push(InputEvent::resize(width, height));
  };
  if (!callResizeHandler(width, height, step)) step();
}

}  // namespace nubrik
