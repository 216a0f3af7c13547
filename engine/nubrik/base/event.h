#pragma once

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace nubrik {

namespace platform {
struct EventObject;
}  // namespace platform

// A manual-reset event: once set it stays set, for every waiter, until reset.
// Failures of the platform throw Win32Exception.
class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // A timeout that never ends.
  static constexpr uint32_t kForever = 0xFFFFFFFF;

  void set();
  void reset();
  // True when the event is set within `timeoutMs` milliseconds (0 polls).
  bool wait(uint32_t timeoutMs = kForever);
  // The same for a duration (see toTimeoutMs).
  template <typename Rep, typename Period>
  bool wait(std::chrono::duration<Rep, Period> timeout) {
    return wait(toTimeoutMs(timeout));
  }

  // A duration as a timeout in milliseconds: rounded up, so that a wait
  // never ends early; zero or less polls, and one too long to count in
  // milliseconds waits without limit (kForever).
  template <typename Rep, typename Period>
  static uint32_t toTimeoutMs(std::chrono::duration<Rep, Period> timeout) {
    const double count = std::ceil(std::chrono::duration<double, std::milli>(timeout).count());
    if (!(count > 0)) return 0;
    return count >= kForever ? kForever : static_cast<uint32_t>(count);
  }

  // Waits until any of the events is set and returns the lowest index of a
  // set one, or -1 when none is set within `timeoutMs` (0 polls). The range
  // holds pointers (or smart pointers) to events; a null one in it, or an
  // empty range without a timeout, throws std::invalid_argument.
  template <typename Iterator>
  static int32_t wait(Iterator first, Iterator last, uint32_t timeoutMs = kForever) {
    std::vector<platform::EventObject*> handles;
    for (; first != last; ++first) {
      if (*first == nullptr) refuseNullEvent(handles.size());
      handles.push_back((*first)->handle_);
    }
    return waitAny(handles, timeoutMs);
  }
  template <typename Iterator, typename Rep, typename Period>
  static int32_t wait(Iterator first, Iterator last, std::chrono::duration<Rep, Period> timeout) {
    return wait(first, last, toTimeoutMs(timeout));
  }

 private:
  static int32_t waitAny(const std::vector<platform::EventObject*>& handles, uint32_t timeoutMs);
  [[noreturn]] static void refuseNullEvent(size_t index);

  platform::EventObject* handle_;
};

}  // namespace nubrik
