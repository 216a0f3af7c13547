#include "nubrik/image/image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "nubrik/image/memory_helper.h"
#include "nubrik/image/pixel_lock.h"

namespace nubrik {
namespace {

TEST(ImageTest, PictureRowsArePackedWithoutPadding) {
  const struct {
    PixelFormat format;
    uint32_t pitch;
  } cases[] = {{PixelFormat::Grey, 5},
               {PixelFormat::Rgb, 15},
               {PixelFormat::GreyAlpha, 10},
               {PixelFormat::Rgba, 20},
               {PixelFormat::Rgbx, 20}};
  for (const auto& c : cases) {
    Image image(5, 3, c.format);
    EXPECT_EQ(image.getPitch(), c.pitch);
    EXPECT_EQ(image.getPixelFormat(), c.format);
    EXPECT_EQ(image.getWidth(), 5u);
    EXPECT_EQ(image.getHeight(), 3u);
  }
  EXPECT_EQ(Image(1, 4, PixelFormat::Rgb).getPitch(), 3u);
}

TEST(ImageTest, ZeroRowsStillLocks) {
  Image image(7, 0, PixelFormat::Rgba);
  PixelLock lock(image);
  EXPECT_NE(lock.pixels(), nullptr);
}

TEST(ImageTest, SizesThatDoNotFitThrowBadAlloc) {
  // The pitch of 2^31 four-byte pixels does not fit 32 bits.
  EXPECT_THROW(Image(0x80000000u, 1, PixelFormat::Rgba), std::bad_alloc);
  EXPECT_THROW(Image(std::numeric_limits<uint32_t>::max(), 1, PixelFormat::Rgb), std::bad_alloc);
  // Fits the pitch, but no machine has height x pitch bytes to give.
  try {
    Image(0x3FFFFFFFu, 0xFFFFFFFFu, PixelFormat::Rgba);
    FAIL();
  } catch (const std::bad_alloc& e) {
    EXPECT_NE(std::string(e.what()).find("1073741823 x 4294967295 pixels of 4 bytes"),
              std::string::npos)
        << e.what();
  }
}

TEST(ImageTest, NullPixelsOnlyWithoutPixels) {
  EXPECT_THROW(Image(4, 2, 16, nullptr), std::invalid_argument);
  EXPECT_NO_THROW(Image(0, 2, 0, nullptr));
}

TEST(ImageTest, ImagesOverOneArrayShareTheirPixels) {
  auto pixels = MemoryHelper::allocate(4 * 4 * 2);
  auto first = std::make_unique<Image>(4, 2, 16, pixels);
  Image second(4, 2, 16, pixels);
  pixels.reset();
  EXPECT_EQ(second.getPixelFormat(), PixelFormat::Rgbx);
  {
    PixelLock lock(*first);
    lock.pixels()[17] = 0xAB;
  }
  first.reset();
  ConstPixelLock lock(second);
  EXPECT_EQ(lock.pixels()[17], 0xAB);
}

TEST(MemoryHelperTest, UsableBytesStartFourPastAPage) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{4095}, size_t{64 * 1024}, size_t{1} << 20}) {
    auto block = MemoryHelper::allocate(size);
    const auto address = reinterpret_cast<uintptr_t>(block.get());
    EXPECT_EQ(address % 4096, 4u) << size;
    // Every usable byte is writable (AddressSanitizer checks the bounds).
    for (size_t i = 0; i < size; i += 512) block[i] = 1;
    if (size > 0) block[size - 1] = 1;
  }
}

TEST(MemoryHelperTest, AbsurdSizesThrow) {
  EXPECT_THROW(MemoryHelper::allocate(std::numeric_limits<size_t>::max() - 10), std::bad_alloc);
}

TEST(PixelLockTest, UnlocksWhenTheScopeEnds) {
  struct Counting : IImage {
    mutable int locks = 0, unlocks = 0, constLocks = 0, constUnlocks = 0;
    uint8_t byte = 0;
    uint32_t getWidth() const override { return 1; }
    uint32_t getHeight() const override { return 1; }
    PixelFormat getPixelFormat() const override { return PixelFormat::Grey; }
    uint32_t getPitch() const override { return 1; }
    uint8_t* lock() override { return ++locks, &byte; }
    const uint8_t* lockConst() const override { return ++constLocks, &byte; }
    void unlock() override { ++unlocks; }
    void unlockConst() const override { ++constUnlocks; }
  } image;
  try {
    PixelLock write(image);
    ConstPixelLock read(image);
    throw 1;
  } catch (int) {
  }
  EXPECT_EQ(image.locks, 1);
  EXPECT_EQ(image.unlocks, 1);
  EXPECT_EQ(image.constLocks, 1);
  EXPECT_EQ(image.constUnlocks, 1);
}

}  // namespace
}  // namespace nubrik
