#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/image/image.h"
#include "nubrik/window/event_window.h"

namespace nubrik {

// A window surface in memory: a full-size 32-bit framebuffer that keeps what
// was presented and counts the rectangles. For tests, benchmarks and the
// headless runner. It lends its framebuffer's rows to be composed in place
// (unless told not to, to try the band-image path), and takes rectangles
// from several threads at once.
class MemorySurface final : public IDeviceContext {
 public:
  // The most rectangles kept: far more than one frame of any surface
  // presents, and a bound on what a long run keeps.
  static constexpr size_t kMaxPresented = 65536;
  // The largest framebuffer, as for a Screen: 16384 pixels wide, 2^28
  // pixels (1 GiB).
  static constexpr uint32_t kMaxWidth = 16384;
  static constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

  // Throws std::invalid_argument, naming the size and the limit, for a
  // width above kMaxWidth or more than kMaxPixels pixels.
  MemorySurface(uint32_t width, uint32_t height, bool lendsPixels = true);

  void presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width, uint32_t rows,
                   int32_t bandTop, const Rect& rect) override;
  bool presentsConcurrently() const override { return true; }
  bool lendBand(int32_t bandTop, uint32_t rows, LentBand& out) override;
  void bandChanged(int32_t bandTop, const Rect& rect) override;
  // A new framebuffer of the new size, cleared; limits as for the
  // constructor.
  void surfaceResized(uint32_t width, uint32_t height) override;

  // Read these only while nothing presents (the frame thread stopped, or
  // from a frame callback, which runs after the frame's presentations).
  const Image& getFramebuffer() const { return *framebuffer_; }
  // The latest presented rectangles, oldest first: everything since the last
  // clearPresented(), or at least the latest kMaxPresented / 2 of it.
  const std::vector<Rect>& getPresented() const { return presented_; }
  void clearPresented() {
    std::lock_guard lock(presentedLock_);
    presented_.clear();
  }
  // Every rectangle ever presented.
  uint64_t getPresentedCount() const {
    std::lock_guard lock(presentedLock_);
    return presentedCount_;
  }

 private:
  void record(const Rect& rect);

  std::shared_ptr<Image> framebuffer_;
  bool lendsPixels_;
  // Guards only the list of rectangles: the pixels of different bands
  // never overlap.
  mutable std::mutex presentedLock_;
  std::vector<Rect> presented_;
  uint64_t presentedCount_ = 0;
};

// A window that is only memory: its one device context is a MemorySurface,
// its cursor stays where it is put, and its input is what the program (a
// test) injects.
class MemoryWindow final : public EventWindow {
 public:
  MemoryWindow(uint32_t width, uint32_t height)
      : surface_(width, height), width_(width), height_(height) {}
  ~MemoryWindow() override { endInputSources(); }

  std::string getBackendName() const override { return "memory"; }

  // The size the window was made with or last resized to (the framebuffer
  // follows when a Screen resizes it).
  uint32_t getClientWidth() const override { return width_.load(); }
  uint32_t getClientHeight() const override { return height_.load(); }
  IDeviceContext* getDC() override { return &surface_; }
  void releaseDC(IDeviceContext*) override {}
  Point getCursorPosition() const override { return {cursorX_.load(), cursorY_.load()}; }
  void setCursorPosition(Point p) {
    cursorX_ = p.x;
    cursorY_ = p.y;
  }

  MemorySurface& getSurface() { return surface_; }

  // Queues an event as a platform's window would (stamped now when its time
  // is unset); a Close event also makes waitEvent return Closed. Callable
  // from any thread.
  void inject(InputEvent event);
  // Resizes the window as a user would: the resize handler is told, then the
  // window takes the size and a Resize event is queued. Throws
  // std::invalid_argument, naming the size, for a side of 0 or a size its
  // surface cannot take (see MemorySurface), and what the handler throws;
  // either way the window keeps its size and queues nothing. Callable from
  // any thread, from the handler's lock included (see setResizeHandler).
  void resize(uint32_t width, uint32_t height);
  void show() override {}
  using EventWindow::waitEvent;
  WindowEvent waitEvent(uint32_t timeoutMs = kForever) override;
  void wake() override;
  std::string getFailure() const override { return {}; }

 private:
  MemorySurface surface_;
  std::atomic<uint32_t> width_;
  std::atomic<uint32_t> height_;
  std::atomic<int32_t> cursorX_{0};
  std::atomic<int32_t> cursorY_{0};
  // What waitEvent has yet to report.
  std::mutex eventLock_;
  std::condition_variable eventArrived_;
  uint32_t pendingCloses_ = 0;
  bool pendingInput_ = false;
  bool woken_ = false;
};

}  // namespace nubrik
