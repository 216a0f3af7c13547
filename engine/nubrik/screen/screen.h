#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/base/thread.h"
#include "nubrik/image/image.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/image_sprite.h"

namespace nubrik {

class Screen;

// Called once per frame iteration on the frame thread, under the scene lock;
// returning true removes the callback.
using FrameCallback = std::function<bool(Screen&)>;

// Binds the engine to one window's device context: creates and registers
// sprites, keeps the frame callbacks, and runs the frame thread that composes
// every invalidated frame on one worker per logical processor.
//
// Threads: the owner's thread builds the Screen, creates sprites, registers
// callbacks, starts and stops the frame thread and calls invalidateAll. The
// frame thread holds the scene lock for each whole iteration; sprites may be
// changed only from frame callbacks, before the frame thread starts, or while
// holding getSceneLock().
class Screen {
 public:
  static constexpr uint32_t kMaxWidth = 16384;

  // `hdc` is not owned and must outlive the Screen. Throws
  // std::invalid_argument for a width of 0 or above 16384, or a height of 0.
  Screen(IDeviceContext* hdc, uint32_t width, uint32_t height);
  virtual ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  uint32_t getWidth() const { return width_; }
  uint32_t getHeight() const { return height_; }
  std::shared_ptr<SpriteManager> getSpriteManager() const { return spriteManager_; }
  std::shared_ptr<SpriteDrawer> getSpriteDrawer() const { return spriteDrawer_; }

  // New sprites start hidden, Normal, opacity 255, and are registered.
  std::shared_ptr<FillRectSprite> createFillRectSprite(int32_t id, const Rect& rect, int32_t zOrder,
                                                       const Colour& colour);
  std::shared_ptr<ImageSprite> createImageSprite(int32_t id, int32_t x, int32_t y, int32_t zOrder,
                                                 std::shared_ptr<IImage> image);

  // Only while the frame thread is stopped. Throws std::invalid_argument for
  // an empty callback.
  void addFrameCallback(FrameCallback callback);
  // (Re)starts the frame thread with a fresh set of workers.
  void startFrameThread();
  // Stops the frame thread and, before it ends, all its workers.
  void stopFrameThread();
  bool isFrameThreadRunning() const { return frameThread_.isRunning(); }
  // Marks the whole surface for redrawing in the next frame.
  void invalidateAll();

  platform::RecursiveLock& getSceneLock() { return sceneLock_; }

  // Workers per run of the frame thread: one per logical processor unless
  // set here before startFrameThread. With 0 the frame thread composes the
  // bands itself.
  void setWorkerCount(std::optional<uint32_t> count) { workerCount_ = count; }

  // Frames composed since construction, and how long the last one took to
  // compose and present. Read from a frame callback for consistent values.
  uint64_t getComposedFrameCount() const { return composedFrames_.load(); }
  double getLastFrameMilliseconds() const { return lastFrameMilliseconds_.load(); }

 private:
  friend void frameLoop(Screen& screen, ThreadNotifier& notifier);
  friend void composeBands(Screen& screen, Image& bandImage);

  IDeviceContext* hdc_;
  uint32_t width_;
  uint32_t height_;
  // Declared so that destruction runs in the required order: the workers'
  // lock and drawer first, the registry last.
  std::shared_ptr<SpriteManager> spriteManager_;
  std::shared_ptr<SpriteDrawer> spriteDrawer_;
  std::vector<FrameCallback> frameCallbacks_;
  Thread frameThread_;
  platform::RecursiveLock sceneLock_;
  std::shared_ptr<SpriteDrawer> bandDrawer_;
  uint32_t nextBand_ = 0;
  platform::RecursiveLock presentLock_;

  std::optional<uint32_t> workerCount_;
  std::atomic<uint64_t> composedFrames_{0};
  std::atomic<double> lastFrameMilliseconds_{0};
};

// Copies `rect` (surface coordinates) of a band image whose first row is
// surface row `bandTop` to the device context.
void presentBand(IImage& image, const Rect& rect, IDeviceContext* hdc, int32_t bandTop);

}  // namespace nubrik
