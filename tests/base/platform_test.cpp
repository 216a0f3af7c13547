#include "nubrik/base/platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "nubrik/base/platform/random.h"

namespace nubrik {
namespace {

TEST(PlatformTest, RandomSequenceIsTheSameOnEveryThread) {
  // The classic sequence of this generator, from a state of 1.
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
  int first[8], second[8];
  std::thread([&] {
    for (int& v : first) v = platform::random15();
  }).join();
  std::thread([&] {
    for (int& v : second) v = platform::random15();
  }).join();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(first[i], expected[i]);
    EXPECT_EQ(second[i], expected[i]);
  }
}

TEST(PlatformTest, AtLeastOneProcessor) { EXPECT_GE(platform::logicalProcessorCount(), 1u); }

TEST(PlatformTest, ThreadsReturnTheirExitCode) {
  uint32_t code = 77;
  auto* thread = platform::startThread([](void* v) { return *static_cast<uint32_t*>(v); }, &code);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(platform::joinThread(thread), 77u);
}

// A timed wait ends by itself, and a change ends an untimed one.
TEST(PlatformTest, WaitsOnAWordEndByTimeOrByChange) {
  std::atomic<uint32_t> word{0};
  platform::waitOnWord(word, 0, 2'000'000);  // returns: the test would hang otherwise
  std::thread changer([&] {
    word = 1;
    platform::wakeWord(word);
  });
  while (word.load() == 0) platform::waitOnWord(word, 0);
  changer.join();
}

#if defined(__linux__)
// A steered thread runs only off the steering thread's processor until it is
// let back onto all it had; where it cannot be steered, nothing breaks.
TEST(PlatformTest, ASteeredThreadIsKeptOffOneProcessorAndLetBack) {
  auto allowed = [](pid_t thread) {
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(thread, sizeof set, &set);
    return CPU_COUNT(&set);
  };
  std::atomic<int> step{0};
  std::atomic<pid_t> tid{0};
  std::atomic<platform::ProcessorSteerObject*> steer{nullptr};
  std::thread worker([&] {
    steer = platform::createProcessorSteer();
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    step = 1;
    while (step.load() != 3) std::this_thread::yield();
    platform::releaseProcessorSteer(steer);
  });
  while (step.load() != 1) std::this_thread::yield();
  const int before = allowed(tid);
  if (steer == nullptr) {
    EXPECT_EQ(before, 1);  // one processor: nowhere else to go
  } else {
    ASSERT_TRUE(platform::steerOffCallersProcessor(steer));
    EXPECT_EQ(allowed(tid), before - 1);
    platform::restoreProcessors(steer);
    EXPECT_EQ(allowed(tid), before);
  }
  EXPECT_FALSE(platform::steerOffCallersProcessor(nullptr));
  platform::restoreProcessors(nullptr);
  step = 3;
  worker.join();
}
#endif

}  // namespace
}  // namespace nubrik
