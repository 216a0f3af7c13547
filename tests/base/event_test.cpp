#include "nubrik/base/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

#include "base/allocation_faults.h"
#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/base/thread_notifier.h"

namespace nubrik {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::AllocationFault;

TEST(EventTest, PollsAndStaysSetUntilReset) {
  Event event;
  EXPECT_FALSE(event.wait(0));
  event.set();
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.wait());
  event.reset();
  EXPECT_FALSE(event.wait(0));
}

TEST(EventTest, TimesOut) {
  Event event;
  const auto start = steady_clock::now();
  EXPECT_FALSE(event.wait(20));
  EXPECT_GE(steady_clock::now() - start, milliseconds(20));
}

// Durations of every size and type become the least number of milliseconds
// that is not shorter; nothing is a poll, and what milliseconds cannot count
// waits for ever. A wait given one lasts at least that long.
TEST(EventTest, DurationsRoundUpToWholeMilliseconds) {
  using std::chrono::duration;
  using std::chrono::nanoseconds;
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 10000; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const nanoseconds d((state >> 20) % 5'000'000'000'000);  // up to 5000 s
    const uint32_t ms = Event::toTimeoutMs(d);
    ASSERT_GE(milliseconds(ms), d) << d.count();
    ASSERT_LT(milliseconds(ms) - milliseconds(1), d) << d.count();
    ASSERT_EQ(Event::toTimeoutMs(duration<double, std::micro>(d)), ms) << d.count();
  }
  EXPECT_EQ(Event::toTimeoutMs(nanoseconds(0)), 0u);
  EXPECT_EQ(Event::toTimeoutMs(nanoseconds(1)), 1u);
  EXPECT_EQ(Event::toTimeoutMs(-std::chrono::hours(1)), 0u);
  EXPECT_EQ(Event::toTimeoutMs(duration<double>(std::nan(""))), 0u);
  EXPECT_EQ(Event::toTimeoutMs(milliseconds(Event::kForever - 1)), Event::kForever - 1);
  EXPECT_EQ(Event::toTimeoutMs(milliseconds(Event::kForever)), Event::kForever);
  EXPECT_EQ(Event::toTimeoutMs(std::chrono::hours::max()), Event::kForever);

  Event event;
  const auto start = steady_clock::now();
  EXPECT_FALSE(event.wait(std::chrono::microseconds(20'500)));
  EXPECT_GE(steady_clock::now() - start, std::chrono::microseconds(20'500));
  event.set();
  EXPECT_TRUE(event.wait(std::chrono::seconds(0)));
}

TEST(EventTest, OneSetWakesEveryWaiter) {
  Event event;
  std::atomic<int> woken{0};
  std::thread a([&] { woken += event.wait(); });
  std::thread b([&] { woken += event.wait(); });
  std::this_thread::sleep_for(milliseconds(10));
  event.set();
  a.join();
  b.join();
  EXPECT_EQ(woken, 2);
}

TEST(EventTest, WaitAnyReportsTheLowestSetIndex) {
  Event a, b, c;
  Event* events[] = {&a, &b, &c};
  c.set();
  EXPECT_EQ(Event::wait(std::begin(events), std::end(events)), 2);
  b.set();
  EXPECT_EQ(Event::wait(std::begin(events), std::end(events)), 1);
  a.set();
  EXPECT_EQ(Event::wait(std::begin(events), std::end(events)), 0);

  Event late;
  Event* pair[] = {&a, &late};
  a.reset();
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(5));
    late.set();
  });
  EXPECT_EQ(Event::wait(std::begin(pair), std::end(pair)), 1);
  setter.join();
}

TEST(EventTest, AWaitWithoutMemoryFailsWithItsCodeAndLeavesNoWaiterBehind) {
#if defined(_WIN32)
  GTEST_SKIP() << "the platform's own wait allocates nothing";
#endif
  // A timed wait puts itself on each event (one allocation each for fresh
  // events) and times out: fail the first, then the second allocation.
  for (int failAt = 0; failAt < 3; ++failAt) {
    SCOPED_TRACE(failAt);
    platform::EventObject* events[] = {platform::createEvent(), platform::createEvent()};
    size_t index = 0;
    platform::WaitStatus status;
    uint32_t code = 0;
    {
      AllocationFault fault(failAt);
      status = platform::waitForAnyEvent(events, 2, 1, &index);
      code = platform::lastError();
    }
    EXPECT_EQ(status, failAt < 2 ? platform::WaitStatus::Failed : platform::WaitStatus::TimedOut);
    if (failAt < 2) {
      EXPECT_EQ(code, uint32_t{ENOMEM});
    }
    // No event may still point at the failed wait.
    std::thread setter([&] {
      std::this_thread::sleep_for(milliseconds(2));
      platform::setEvent(events[0]);
    });
    EXPECT_EQ(platform::waitForAnyEvent(events, 2, platform::kInfinite, &index),
              platform::WaitStatus::Signalled);
    setter.join();
    for (auto* event : events) platform::destroyEvent(event);
  }

  // The error code survives the allocations that build the message.
  Event event;
  try {
    AllocationFault fault(0);
    event.wait(1);
    FAIL() << "no failure";
  } catch (const Win32Exception& e) {
    EXPECT_EQ(e.errorCode(), uint32_t{ENOMEM});
    EXPECT_STREQ(e.what(), makeMessage(messages::kWaitFailed, "nubrik::Event::wait").get());
  }
}

TEST(ThreadNotifierTest, SleepAndWaitEndWithTheInterrupt) {
  ThreadNotifier notifier;
  Event target;
  EXPECT_FALSE(notifier.isInterrupted());
  const auto start = steady_clock::now();
  notifier.sleep();
  EXPECT_GE(steady_clock::now() - start, milliseconds(1));

  target.set();
  EXPECT_TRUE(notifier.wait(target));
  EXPECT_TRUE(notifier.wait(target));  // the target stays set

  notifier.interruptEvent().set();
  EXPECT_TRUE(notifier.isInterrupted());
  // The interrupt wins over a set target.
  try {
    notifier.wait(target);
    FAIL() << "no interrupt";
  } catch (const InterruptedException& e) {
    EXPECT_STREQ(e.what(), "Thread interupted in nubrik::ThreadNotifier::wait method.");
  }
  try {
    notifier.sleep();
    FAIL() << "no interrupt";
  } catch (const InterruptedException& e) {
    EXPECT_STREQ(e.what(), "Thread interupted in nubrik::ThreadNotifier::sleep method.");
  }
}

TEST(ThreadNotifierTest, InterruptWakesABlockedWait) {
  ThreadNotifier notifier;
  Event never;
  std::thread owner([&] {
    std::this_thread::sleep_for(milliseconds(5));
    notifier.interruptEvent().set();
  });
  EXPECT_THROW(notifier.wait(never), InterruptedException);
  owner.join();
}

}  // namespace
}  // namespace nubrik
