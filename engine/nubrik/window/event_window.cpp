#include "nubrik/window/event_window.h"

#include <exception>
#include <mutex>
#include <utility>

namespace nubrik {

void EventWindow::setResizeHandler(ResizeHandler handler, RecursiveLock* lock) {
  if (handler) {
    resizer_.set(Resizer{std::move(handler), lock});
  } else {
    resizer_.clear();
  }
}

bool EventWindow::callResizeHandler(uint32_t width, uint32_t height,
                                    const std::function<void()>& then) {
  return resizer_.call([&](const Resizer& resizer) {
    std::unique_lock<RecursiveLock> held;
    if (resizer.lock != nullptr) held = std::unique_lock(*resizer.lock);
    resizer.handler(width, height);
    if (then) then();
  });
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
