#pragma once

#include <chrono>

namespace nubrik {

// What a round of frame callbacks is told about time.
struct FrameTime {
  using Clock = std::chrono::steady_clock;
  // When the round began.
  Clock::time_point now{};
  // Since the previous round of the same run of the frame thread; zero for
  // the first.
  std::chrono::nanoseconds elapsed{0};

  double seconds() const { return std::chrono::duration<double>(elapsed).count(); }
};

}  // namespace nubrik
