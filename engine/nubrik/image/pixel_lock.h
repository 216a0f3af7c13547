#pragma once

#include <cstdint>

#include "nubrik/image/image.h"

namespace nubrik {

// Holds an image locked for writing for the lifetime of the scope.
class PixelLock {
 public:
  explicit PixelLock(IImage& image) : pixels_(image.lock()), image_(&image) {}
  ~PixelLock() {
    if (image_ != nullptr) image_->unlock();
  }
  PixelLock(const PixelLock&) = delete;
  PixelLock& operator=(const PixelLock&) = delete;

  uint8_t* pixels() const { return pixels_; }

 private:
  uint8_t* pixels_;
  IImage* image_;
};

// Holds an image locked for reading for the lifetime of the scope.
class ConstPixelLock {
 public:
  explicit ConstPixelLock(const IImage& image) : pixels_(image.lockConst()), image_(&image) {}
  ~ConstPixelLock() {
    if (image_ != nullptr) image_->unlockConst();
  }
  ConstPixelLock(const ConstPixelLock&) = delete;
  ConstPixelLock& operator=(const ConstPixelLock&) = delete;

  const uint8_t* pixels() const { return pixels_; }

 private:
  const uint8_t* pixels_;
  const IImage* image_;
};

}  // namespace nubrik
