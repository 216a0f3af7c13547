#include "nubrik/base/recursive_lock.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace nubrik {
namespace {

// The holder enters again as often as it likes and holds the lock until it
// has left as often; meanwhile another thread neither gets it nor is told
// that it holds it, and gets it once the holder is out.
TEST(RecursiveLockTest, TheHolderEntersAgainAndOthersWait) {
  RecursiveLock lock;
  EXPECT_FALSE(lock.isHeldByCurrentThread());
  for (int depth = 1; depth <= 3; ++depth) {
    lock.lock();
    EXPECT_TRUE(lock.isHeldByCurrentThread());
    std::thread([&] {
      EXPECT_FALSE(lock.isHeldByCurrentThread());
      EXPECT_FALSE(lock.try_lock());
    }).join();
  }
  EXPECT_TRUE(lock.try_lock());
  for (int depth = 4; depth > 0; --depth) {
    EXPECT_TRUE(lock.isHeldByCurrentThread());
    lock.unlock();
  }
  EXPECT_FALSE(lock.isHeldByCurrentThread());
  std::thread([&] {
    std::lock_guard held(lock);
    EXPECT_TRUE(lock.isHeldByCurrentThread());
  }).join();
  EXPECT_FALSE(lock.isHeldByCurrentThread());
}

}  // namespace
}  // namespace nubrik
