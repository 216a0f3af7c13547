#pragma once

#include <cstdint>
#include <memory>

#include "nubrik/image/pixel_format.h"

namespace nubrik {

// A rectangle of pixels in one layout. Every access to the bytes is
// bracketed by lock/unlock (see PixelLock).
class IImage {
 public:
  virtual ~IImage() = default;
  virtual uint32_t getWidth() const = 0;
  virtual uint32_t getHeight() const = 0;
  virtual PixelFormat getPixelFormat() const = 0;
  virtual uint32_t getPitch() const = 0;
  virtual uint8_t* lock() = 0;
  virtual const uint8_t* lockConst() const = 0;
  virtual void unlock() = 0;
  virtual void unlockConst() const = 0;
};

// Pixels held in memory; the byte array is shared and carries its own deleter.
class Image final : public IImage {
 public:
  using Pixels = std::shared_ptr<uint8_t[]>;

  // A band image over an existing array: Rgbx, `pitch` bytes per row.
  // `pixels` may be null only when the image has no pixel (a width or a
  // height of 0); otherwise std::invalid_argument.
  Image(uint32_t width, uint32_t height, uint32_t pitch, Pixels pixels);
  // A picture with rows packed without padding; the bytes are not initialised.
  // Throws std::bad_alloc when the size does not fit (its what() says which).
  Image(uint32_t width, uint32_t height, PixelFormat pixelFormat);

  uint32_t getWidth() const override { return width_; }
  uint32_t getHeight() const override { return height_; }
  PixelFormat getPixelFormat() const override { return pixelFormat_; }
  uint32_t getPitch() const override { return pitch_; }
  uint8_t* lock() override { return pixels_.get(); }
  const uint8_t* lockConst() const override { return pixels_.get(); }
  void unlock() override {}
  void unlockConst() const override {}

  const Pixels& pixels() const { return pixels_; }

 private:
  uint32_t width_;
  uint32_t height_;
  PixelFormat pixelFormat_;
  uint32_t pitch_;
  Pixels pixels_;
};

}  // namespace nubrik
