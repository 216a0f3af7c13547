#include "nubrik/window/memory_window.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>

#include "nubrik/image/memory_helper.h"

namespace nubrik {

MemorySurface::MemorySurface(uint32_t width, uint32_t height, bool lendsPixels)
    : lendsPixels_(lendsPixels) {
  surfaceResized(width, height);
}

void MemorySurface::surfaceResized(uint32_t width, uint32_t height) {
  const uint64_t pixelCount = uint64_t{width} * height;
  if (width > kMaxWidth || pixelCount > kMaxPixels) {
    throw std::invalid_argument("a MemorySurface of " + std::to_string(width) + " x " +
                                std::to_string(height) + " pixels is larger than the limit of " +
                                std::to_string(kMaxWidth) + " pixels wide and " +
                                std::to_string(kMaxPixels) + " pixels");
  }
  const size_t bytes = static_cast<size_t>(pixelCount) * 4;
  auto pixels = MemoryHelper::allocate(bytes);
  std::memset(pixels.get(), 0, bytes);
  framebuffer_ = std::make_shared<Image>(width, height, width * 4, std::move(pixels));
}

void MemorySurface::record(const Rect& rect) {
  std::lock_guard lock(presentedLock_);
  if (presented_.size() >= kMaxPresented) {
    presented_.erase(presented_.begin(), presented_.begin() + kMaxPresented / 2);
  }
  presented_.push_back(rect);
  ++presentedCount_;
}

bool MemorySurface::lendBand(int32_t bandTop, uint32_t rows, LentBand& out) {
  const int64_t height = framebuffer_->getHeight();
  if (!lendsPixels_ || bandTop < 0 || bandTop >= height) return false;
  out.pitch = framebuffer_->getPitch();
  out.width = framebuffer_->getWidth();
  out.rows = static_cast<uint32_t>(std::min<int64_t>(rows, height - bandTop));
  out.pixels = framebuffer_->lock() + int64_t{bandTop} * out.pitch;
  return true;
}

void MemorySurface::bandChanged(int32_t, const Rect& rect) { record(rect); }

void MemorySurface::presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width,
                                uint32_t rows, int32_t bandTop, const Rect& rect) {
  record(rect);
  // Only what lies in the band and in the framebuffer is copied.
  const int64_t left = std::max<int64_t>(rect.left, 0);
  const int64_t right = std::min<int64_t>({rect.right, width, framebuffer_->getWidth()});
  const int64_t top = std::max<int64_t>({rect.top, bandTop, 0});
  const int64_t bottom =
      std::min<int64_t>({rect.bottom, int64_t{bandTop} + rows, framebuffer_->getHeight()});
  if (left >= right || top >= bottom) return;
  uint8_t* target = framebuffer_->lock();
  for (int64_t y = top; y < bottom; ++y) {
    std::memcpy(target + y * framebuffer_->getPitch() + left * 4,
                pixels + (y - bandTop) * int64_t{pitch} + left * 4, (right - left) * 4);
  }
}

void MemoryWindow::inject(InputEvent event) {
  if (event.time == InputEvent::Clock::time_point{}) event.time = InputEvent::Clock::now();
  input().push(event);
  {
    std::lock_guard lock(eventLock_);
    pendingInput_ = true;
    if (event.type == InputEventType::Close) ++pendingCloses_;
  }
  eventArrived_.notify_all();
}

void MemoryWindow::resize(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > MemorySurface::kMaxWidth ||
      uint64_t{width} * height > MemorySurface::kMaxPixels) {
    throw std::invalid_argument("a MemoryWindow cannot be resized to " + std::to_string(width) +
                                " x " + std::to_string(height) + ": its surface takes 1 to " +
                                std::to_string(MemorySurface::kMaxWidth) + " pixels wide and " +
                                std::to_string(MemorySurface::kMaxPixels) + " pixels in all");
  }
  resizeThroughHandler(width, height, [&] {
    width_ = width;
    height_ = height;
  });
  {
    std::lock_guard lock(eventLock_);
    pendingInput_ = true;
  }
  eventArrived_.notify_all();
}

void MemoryWindow::wake() {
  {
    std::lock_guard lock(eventLock_);
    woken_ = true;
  }
  eventArrived_.notify_all();
}

WindowEvent MemoryWindow::waitEvent(uint32_t timeoutMs) {
  std::unique_lock lock(eventLock_);
  auto ready = [this] { return pendingCloses_ > 0 || pendingInput_ || woken_; };
  if (timeoutMs == kForever) {
    eventArrived_.wait(lock, ready);
  } else if (!eventArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return WindowEvent::TimedOut;
  }
  // A close request first, as the platforms' windows report it at once.
  if (pendingCloses_ > 0) {
    --pendingCloses_;
    return WindowEvent::Closed;
  }
  if (pendingInput_) {
    pendingInput_ = false;
    return WindowEvent::Input;
  }
  woken_ = false;
  return WindowEvent::Woken;
}

}  // namespace nubrik
