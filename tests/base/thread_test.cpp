#include "nubrik/base/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"

namespace nubrik {
namespace {

TEST(ThreadTest, StopInterruptsAWaitingBodyAndJoins) {
  Thread thread;
  std::atomic<bool> started{false}, interrupted{false};
  Event never;
  thread.start([&](ThreadNotifier& notifier) {
    started = true;
    try {
      notifier.wait(never);
    } catch (const InterruptedException&) {
      interrupted = true;
      throw;
    }
  });
  EXPECT_TRUE(thread.isRunning());
  while (!started) std::this_thread::yield();
  thread.stop();
  EXPECT_FALSE(thread.isRunning());
  EXPECT_TRUE(interrupted);
  EXPECT_EQ(thread.lastExitCode(), Thread::kExitFailure);
}

TEST(ThreadTest, RestartsWithAFreshInterrupt) {
  Thread thread;
  std::atomic<int> runs{0};
  std::atomic<bool> interruptedAtStart{true};
  auto body = [&](ThreadNotifier& notifier) {
    interruptedAtStart = notifier.isInterrupted();
    ++runs;
    while (true) notifier.sleep();
  };
  thread.start(body);
  // A thread that runs is not started again, and keeps running.
  EXPECT_THROW(thread.start(body), std::logic_error);
  EXPECT_TRUE(thread.isRunning());
  thread.stop();
  thread.start(body);
  while (runs < 2) std::this_thread::yield();
  EXPECT_FALSE(interruptedAtStart);
  thread.stop();
  EXPECT_EQ(runs, 2);
}

TEST(ThreadTest, BodiesThatReturnOrThrow) {
  Thread thread;
  thread.start([](ThreadNotifier&) {});
  thread.stop();  // the body has ended on its own: stop still joins
  EXPECT_EQ(thread.lastExitCode(), Thread::kExitSuccess);

  thread.start([](ThreadNotifier&) { throw IoException(makeMessage("%s", "m")); });
  thread.stop();
  EXPECT_EQ(thread.lastExitCode(), Thread::kExitFailure);

  thread.start(ThreadBody{});  // an empty body fails like a throwing one
  thread.stop();
  EXPECT_EQ(thread.lastExitCode(), Thread::kExitFailure);

  thread.start([](ThreadNotifier&) { throw 42; });
  thread.stop();
  EXPECT_EQ(thread.lastExitCode(), Thread::kExitFailure);
}

TEST(ThreadTest, StopWithoutStartOrTwiceDoesNothing) {
  Thread thread;
  thread.stop();
  thread.stop();
  thread.start([](ThreadNotifier& n) {
    while (true) n.sleep();
  });
  thread.stop();
  thread.stop();
  EXPECT_FALSE(thread.isRunning());
}

TEST(ThreadTest, ABodyCannotStopItsOwnThread) {
  Thread thread;
  std::atomic<bool> refused{false};
  thread.start([&](ThreadNotifier&) {
    try {
      thread.stop();
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  thread.stop();
  EXPECT_TRUE(refused);
}

TEST(ThreadTest, DestructionJoinsTheBody) {
  auto alive = std::make_shared<std::atomic<bool>>(true);
  {
    Thread thread;
    thread.start([alive](ThreadNotifier& n) {
      try {
        while (true) n.sleep();
      } catch (const InterruptedException&) {
        *alive = false;
      }
    });
  }
  EXPECT_FALSE(*alive);  // the body finished before the Thread was gone
}

}  // namespace
}  // namespace nubrik
