#include "nubrik/base/platform/platform.h"

#include <gtest/gtest.h>

#include <thread>

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

}  // namespace
}  // namespace nubrik
