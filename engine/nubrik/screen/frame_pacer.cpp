#include "nubrik/screen/frame_pacer.h"

#include <thread>

namespace nubrik {

void FramePacer::restart() {
  hadRound_ = false;
  originInterval_ = 0;
}

FrameTime FramePacer::beginRound() {
  // The callbacks about to run read the input that woke us. (Unpaced, no
  // pause waits for it.)
  if (intervalNs_.load() > 0) wakeEvent_.reset();
  FrameTime time;
  time.now = Clock::now();
  if (hadRound_) time.elapsed = time.now - lastRound_;
  lastRound_ = time.now;
  hadRound_ = true;
  return time;
}

void FramePacer::pause(ThreadNotifier& notifier, bool idle) {
  const int64_t interval = intervalNs_.load();
  if (interval <= 0) {
    originInterval_ = 0;
    notifier.sleep();
    return;
  }
  const Clock::duration step = std::chrono::nanoseconds(interval);
  Clock::time_point now = Clock::now();
  if (interval != originInterval_) {
    // A new rate counts its ticks from the round that ran under the old one.
    origin_ = hadRound_ ? lastRound_ : now;
    originInterval_ = interval;
  }
  const Clock::time_point next = origin_ + ((now - origin_) / step + 1) * step;
  for (;;) {
    now = Clock::now();
    if (now >= next) return;
    // The platform's waits count whole milliseconds; the rest is slept
    // without them, and is under a millisecond.
    const auto wholeMs = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
    if (wholeMs == 0) {
      notifier.sleep(0);  // a poll: throws once interrupted
      // Where the system sleeps in whole milliseconds, this may end early:
      // looked at again.
      std::this_thread::sleep_until(next);
      continue;
    }
    if (!idle) {
      notifier.sleep(static_cast<uint32_t>(wholeMs));
    } else if (notifier.wait(wakeEvent_, static_cast<uint32_t>(wholeMs))) {
      return;
    }
  }
}

}  // namespace nubrik
