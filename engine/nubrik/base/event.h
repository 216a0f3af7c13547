#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nubrik/base/platform/platform.h"

namespace nubrik {

// A manual-reset event: once set it stays set, for every waiter, until reset.
// Failures of the platform throw Win32Exception.
class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  // True when the event is set within `timeoutMs` (0 polls).
  bool wait(uint32_t timeoutMs = platform::kInfinite);

  // Waits until any of the events is set and returns the lowest index of a
  // set one, or -1 when none is set within `timeoutMs` (0 polls). The range
  // holds pointers (or smart pointers) to events; a null one in it, or an
  // empty range without a timeout, throws std::invalid_argument.
  template <typename Iterator>
  static int32_t wait(Iterator first, Iterator last, uint32_t timeoutMs = platform::kInfinite) {
    std::vector<platform::EventObject*> handles;
    for (; first != last; ++first) {
      if (*first == nullptr) refuseNullEvent(handles.size());
      handles.push_back((*first)->handle_);
    }
    return waitAny(handles, timeoutMs);
  }

 private:
  static int32_t waitAny(const std::vector<platform::EventObject*>& handles, uint32_t timeoutMs);
  [[noreturn]] static void refuseNullEvent(size_t index);

  platform::EventObject* handle_;
};

}  // namespace nubrik
