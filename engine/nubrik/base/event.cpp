#include "nubrik/base/event.h"

#include <stdexcept>
#include <string>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/base/platform/platform.h"

namespace nubrik {

static_assert(Event::kForever == platform::kInfinite);

namespace {

[[noreturn]] void throwWaitFailed() {
  throwPlatformError(messages::kWaitFailed, "nubrik::Event::wait");
}

}  // namespace

Event::Event() : handle_(platform::createEvent()) {
  if (handle_ == nullptr) {
    throwPlatformError(messages::kCreateEventFailed, "nubrik::Event::Event");
  }
}

Event::~Event() { platform::destroyEvent(handle_); }

void Event::set() {
  if (!platform::setEvent(handle_)) {
    throwPlatformError(messages::kSetEventFailed, "nubrik::Event::set");
  }
}

void Event::reset() {
  if (!platform::resetEvent(handle_)) {
    throwPlatformError(messages::kResetEventFailed, "nubrik::Event::reset");
  }
}

bool Event::wait(uint32_t timeoutMs) {
  switch (platform::waitForEvent(handle_, timeoutMs)) {
    case platform::WaitStatus::Signalled:
      return true;
    case platform::WaitStatus::TimedOut:
      return false;
    case platform::WaitStatus::Failed:
      break;
  }
  throwWaitFailed();
}

void Event::refuseNullEvent(size_t index) {
  throw std::invalid_argument("nubrik::Event::wait: event " + std::to_string(index) +
                              " of the range is null");
}

int32_t Event::waitAny(const std::vector<platform::EventObject*>& handles, uint32_t timeoutMs) {
  // Nothing could ever end a wait without limit on no events.
  if (handles.empty() && timeoutMs == kForever) {
    throw std::invalid_argument("nubrik::Event::wait: the range is empty");
  }
  size_t index = 0;
  switch (platform::waitForAnyEvent(handles.data(), handles.size(), timeoutMs, &index)) {
    case platform::WaitStatus::Signalled:
      return static_cast<int32_t>(index);
    case platform::WaitStatus::TimedOut:
      return -1;
    case platform::WaitStatus::Failed:
      break;
  }
  throwWaitFailed();
}

}  // namespace nubrik
