// The frame thread's pacing and the fate of exceptions from frame
// callbacks.

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "nubrik/base/event.h"
#include "nubrik/screen/screen.h"
#include "nubrik/window/memory_window.h"

namespace nubrik {
namespace {

// Paced, callbacks run on ticks only: never more rounds than ticks in the
// time they took, however late some come; each is told the time since the
// one before.
TEST(FramePacingTest, PacedCallbacksRunOncePerTickAndAreToldTheTime) {
  MemoryWindow window(64, 48);
  Screen screen(window.getDC(), 64, 48);
  constexpr auto kInterval = std::chrono::milliseconds(15);
  screen.setFrameInterval(kInterval);
  std::vector<FrameTime> rounds;
  Event done;
  screen.addFrameCallback([&](Screen&, const FrameTime& time) {
    rounds.push_back(time);
    if (rounds.size() < 20) return false;
    done.set();
    return true;
  });
  screen.startFrameThread();
  ASSERT_TRUE(done.wait(60'000));
  screen.stopFrameThread();
  EXPECT_EQ(rounds.front().elapsed.count(), 0);
  for (size_t i = 1; i < rounds.size(); ++i) {
    EXPECT_EQ(rounds[i].elapsed, rounds[i].now - rounds[i - 1].now);
  }
  const auto span = rounds.back().now - rounds.front().now;
  EXPECT_LE(rounds.size(), static_cast<size_t>(span / kInterval) + 2);
}

// A throwing callback ends its round (the ones after it run next round),
// stays in the list, and each failure is counted and handed to the handler.
TEST(FramePacingTest, CallbackFailuresAreCountedAndHandled) {
  MemoryWindow window(16, 16);
  Screen screen(window.getDC(), 16, 16);
  std::vector<std::string> handled;
  screen.setCallbackErrorHandler([&](std::exception_ptr failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      handled.push_back(e.what());
    }
  });
  int first = 0, second = 0;
  Event done;
  screen.addFrameCallback([&](Screen&) {
    if (second >= 5) return true;  // leaves the counts alone until the thread stops
    if (++first % 2 == 1) throw std::runtime_error("odd round " + std::to_string(first));
    return false;
  });
  screen.addFrameCallback([&](Screen&) {
    if (++second == 5) done.set();
    return second >= 5;
  });
  screen.startFrameThread();
  ASSERT_TRUE(done.wait(60'000));
  screen.stopFrameThread();
  EXPECT_EQ(second, 5);
  EXPECT_EQ(first, 10);  // every other round failed before the second callback
  ASSERT_EQ(screen.getCallbackFailureCount(), 5u);
  EXPECT_EQ(handled, (std::vector<std::string>{"odd round 1", "odd round 3", "odd round 5",
                                               "odd round 7", "odd round 9"}));

  // Without a handler the first failure is one line on standard error.
  Screen quiet(window.getDC(), 16, 16);
  quiet.addFrameCallback([&](Screen& s) -> bool {
    if (s.getCallbackFailureCount() >= 3) done.set();
    throw 42;
  });
  done.reset();
  ::testing::internal::CaptureStderr();
  quiet.startFrameThread();
  ASSERT_TRUE(done.wait(60'000));
  quiet.stopFrameThread();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said,
            "nubrik: a frame callback threw: an exception of an unknown type (further failures "
            "are only counted: Screen::getCallbackFailureCount, "
            "Screen::setCallbackErrorHandler)\n");
}

}  // namespace
}  // namespace nubrik
