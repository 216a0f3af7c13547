#include "nubrik/base/event.h"

#include "nubrik/base/exception.h"

namespace nubrik {

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

int32_t Event::waitAny(const std::vector<platform::EventObject*>& handles, uint32_t timeoutMs) {
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
