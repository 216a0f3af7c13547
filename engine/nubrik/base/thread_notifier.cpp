#include "nubrik/base/thread_notifier.h"

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"

namespace nubrik {

void ThreadNotifier::sleep(uint32_t timeoutMs) {
  if (interruptEvent_.wait(timeoutMs)) {
    throw InterruptedException(
        makeMessage(messages::kThreadInterrupted, "nubrik::ThreadNotifier::sleep"));
  }
}

bool ThreadNotifier::wait(Event& target, uint32_t timeoutMs) {
  Event* const events[] = {&interruptEvent_, &target};
  switch (Event::wait(std::begin(events), std::end(events), timeoutMs)) {
    case 0:
      throw InterruptedException(
          makeMessage(messages::kThreadInterrupted, "nubrik::ThreadNotifier::wait"));
    case 1:
      return true;
    default:
      return false;
  }
}

}  // namespace nubrik
