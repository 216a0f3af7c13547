#include "nubrik/screen/screen.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/base/scene_guard.h"
#include "nubrik/base/thread.h"
#include "nubrik/screen/frame_pacer.h"
#include "nubrik/screen/frame_pipeline.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/sprite_factory.h"

namespace nubrik {

namespace {

uint32_t checkedWidth(uint32_t width, uint32_t height) {
  // A wider surface would leave bands of no rows at all.
  if (width == 0 || width > Screen::kMaxWidth || height == 0) {
    throw std::invalid_argument("a Screen needs a width of 1 to 16384 and a non-zero height, not " +
                                std::to_string(width) + " x " + std::to_string(height));
  }
  if (uint64_t{width} * height > Screen::kMaxPixels) {
    throw std::invalid_argument("a Screen of " + std::to_string(width) + " x " +
                                std::to_string(height) + " pixels is larger than the limit of " +
                                std::to_string(Screen::kMaxPixels) + " pixels");
  }
  return width;
}

// Bands of about 64 KiB, at least one row.
uint32_t bandHeightFor(uint32_t width) { return std::max<uint32_t>(65536 / (width * 4), 1); }

// When the bands that failed in a frame are tried again. A band may fail
// every time (a picture that cannot be read, a window that refuses the
// transfer) and stays marked, so without a wait it would be composed on
// every pass of the frame thread while nothing changes. Each try after a
// failure waits twice as long as the one before, up to the limit; a change
// to the scene is drawn at once, and a frame without failures ends the
// waiting.
class FailedBandRetry {
 public:
  using Clock = std::chrono::steady_clock;

  void frameEnded(bool bandFailed, Clock::time_point now) {
    if (!bandFailed) {
      failures_ = 0;
      return;
    }
    const auto delay = std::min<Clock::duration>(
        std::chrono::milliseconds(int64_t{1} << std::min(failures_, 20u)), Screen::kMaxRetryDelay);
    ++failures_;
    retryAt_ = now + delay;
  }
  // Whether the next frame waits, when `changed` tells whether the scene
  // changed since the last one.
  bool waits(Clock::time_point now, bool changed) const {
    return failures_ != 0 && !changed && now < retryAt_;
  }

 private:
  uint32_t failures_ = 0;
  Clock::time_point retryAt_{};
};

}  // namespace

Screen::Screen(IDeviceContext* hdc, uint32_t width, uint32_t height)
    : hdc_(hdc),
      width_(checkedWidth(width, height)),
      height_(height),
      sceneGuard_(std::make_shared<SceneGuard>()),
      sceneLock_(sceneGuard_->lock()),
      spriteManager_(std::make_shared<SpriteManager>(sceneGuard_)),
      spriteDrawer_(std::make_shared<SpriteDrawer>(width, height, bandHeightFor(width),
                                                   spriteManager_, sceneGuard_)),
      pacer_(std::make_unique<FramePacer>()),
      frameThread_(std::make_unique<Thread>()) {}

Screen::~Screen() {
  try {
    stopFrameThread();
  } catch (const std::logic_error&) {
    // The frame thread cannot wait for itself, and must not outlive the
    // Screen it draws: nothing sound is left to do.
    std::fprintf(stderr, "nubrik::Screen destroyed %s: a caller error; the process ends\n",
                 frameThread_->isCallingThread() ? "from its own frame thread"
                                                 : "while its scene lock is held");
    std::abort();
  } catch (...) {
    // The interrupt could not be set; the Thread's destructor still joins.
  }
}

std::shared_ptr<FillRectSprite> Screen::createFillRectSprite(int32_t id, const Rect& rect,
                                                             int32_t zOrder, const Colour& colour) {
  std::lock_guard lock(sceneLock_);
  auto sprite = makeSprite<FillRectSprite>(spriteManager_, spriteDrawer_, id, rect, zOrder, colour);
  spriteManager_->addSprite(sprite);
  return sprite;
}

std::shared_ptr<FillRectSprite> Screen::createFillRectSprite(const Rect& rect, int32_t zOrder,
                                                             const Colour& colour) {
  std::lock_guard lock(sceneLock_);
  auto sprite =
      makeSprite<FillRectSprite>(spriteManager_, spriteDrawer_, nextOwnId_++, rect, zOrder, colour);
  spriteManager_->addSprite(sprite, false);
  return sprite;
}

std::shared_ptr<ImageSprite> Screen::createImageSprite(int32_t id, int32_t x, int32_t y,
                                                       int32_t zOrder,
                                                       std::shared_ptr<IImage> image) {
  std::lock_guard lock(sceneLock_);
  auto sprite =
      makeSprite<ImageSprite>(spriteManager_, spriteDrawer_, id, x, y, zOrder, std::move(image));
  spriteManager_->addSprite(sprite);
  return sprite;
}

std::shared_ptr<ImageSprite> Screen::createImageSprite(int32_t x, int32_t y, int32_t zOrder,
                                                       std::shared_ptr<IImage> image) {
  std::lock_guard lock(sceneLock_);
  auto sprite = makeSprite<ImageSprite>(spriteManager_, spriteDrawer_, nextOwnId_++, x, y, zOrder,
                                        std::move(image));
  spriteManager_->addSprite(sprite, false);
  return sprite;
}

std::shared_ptr<TextSprite> Screen::createTextSprite(int32_t id, int32_t x, int32_t y,
                                                     int32_t zOrder, std::shared_ptr<Font> font,
                                                     uint32_t pixelSize, std::string_view utf8,
                                                     const Colour& colour) {
  // Rendered before the scene lock is taken: a long text keeps no frame waiting.
  auto sprite = makeSprite<TextSprite>(spriteManager_, spriteDrawer_, id, x, y, zOrder,
                                       std::move(font), pixelSize, utf8, colour);
  std::lock_guard lock(sceneLock_);
  spriteManager_->addSprite(sprite);
  return sprite;
}

std::shared_ptr<TextSprite> Screen::createTextSprite(int32_t x, int32_t y, int32_t zOrder,
                                                     std::shared_ptr<Font> font, uint32_t pixelSize,
                                                     std::string_view utf8, const Colour& colour) {
  // Rendered before the scene lock is taken, as above.
  auto sprite = makeSprite<TextSprite>(spriteManager_, spriteDrawer_, nextOwnId_++, x, y, zOrder,
                                       std::move(font), pixelSize, utf8, colour);
  std::lock_guard lock(sceneLock_);
  spriteManager_->addSprite(sprite, false);
  return sprite;
}

std::shared_ptr<ISprite> Screen::spriteAt(int32_t x, int32_t y) {
  std::lock_guard lock(sceneLock_);
  const std::optional<uint32_t> slot = spriteDrawer_->pick(x, y);
  return slot ? spriteManager_->sharedAt(*slot) : nullptr;
}

std::shared_ptr<ISprite> Screen::findSprite(int32_t id) {
  std::lock_guard lock(sceneLock_);
  return spriteManager_->findSprite(id);
}

std::exception_ptr Screen::takeStoppingFailure() {
  std::lock_guard lock(sceneLock_);
  return std::exchange(stoppingFailure_, nullptr);
}

bool Screen::removeSprite(const std::shared_ptr<ISprite>& sprite) {
  std::lock_guard lock(sceneLock_);
  if (!sprite || !spriteManager_->removeSprite(sprite)) return false;
  if (sprite->isVisible()) sprite->invalidate();
  return true;
}

void Screen::addFrameCallback(FrameCallback callback) {
  if (!callback) throw std::invalid_argument("addFrameCallback needs a callable");
  addFrameCallback([callback = std::move(callback)](Screen& screen, const FrameTime&) {
    return callback(screen);
  });
}

void Screen::addFrameCallback(TimedFrameCallback callback) {
  if (!callback) throw std::invalid_argument("addFrameCallback needs a callable");
  std::lock_guard lock(sceneLock_);
  // The running round walks frameCallbacks_: growing it now would move the
  // callable that is running.
  (runningCallbacks_ ? addedCallbacks_ : frameCallbacks_).push_back(std::move(callback));
}

void Screen::setCallbackErrorHandler(CallbackErrorHandler handler) {
  auto kept = handler ? std::make_shared<const CallbackErrorHandler>(std::move(handler)) : nullptr;
  std::lock_guard lock(sceneLock_);
  // The old handler goes outside the lock, or, when it replaces itself, as
  // its own call ends (the call holds a handle of its own).
  kept.swap(callbackErrorHandler_);
  reportedCallbackFailure_ = true;  // the default handler's one line is off
}

void Screen::setFrameInterval(std::chrono::nanoseconds interval) { pacer_->setInterval(interval); }

std::chrono::nanoseconds Screen::getFrameInterval() const { return pacer_->getInterval(); }

void Screen::wakeFrameThread() { pacer_->wake(); }

void Screen::startFrameThread() {
  stopFrameThread();
  pacer_->restart();
  {
    std::lock_guard lock(sceneLock_);
    stoppingFailure_ = nullptr;
  }
  // The Screen stops this thread before any member goes, so `this` holds.
  sceneGuard_->setFramesRunning(true);
  // Read here, on the owner's thread, not by the frame thread.
  const uint32_t composers = getWorkerCount();
  const WorkerPlacement placement = workerPlacement_;
  try {
    frameThread_->start([this, composers, placement](ThreadNotifier& notifier) {
      runFrames(notifier, composers, placement);
    });
  } catch (...) {
    sceneGuard_->setFramesRunning(false);
    throw;
  }
  if (!frameThread_->isRunning()) {
    // The system gave no thread: nothing composes, so changes need no lock.
    sceneGuard_->setFramesRunning(false);
    throwPlatformError(messages::kCreateThreadFailed, "nubrik::Screen::startFrameThread",
                       "the frame thread");
  }
  frameThreadRunning_ = true;
}

uint32_t Screen::maxWorkerCount() {
  return std::min<uint32_t>(kMaxWorkerCount, 4 * std::max(platform::logicalProcessorCount(), 1u));
}

void Screen::setWorkerCount(std::optional<uint32_t> count) {
  workerCount_ = count ? std::min(*count, maxWorkerCount()) : kDefaultWorkers;
}

uint32_t Screen::getWorkerCount() const {
  const uint32_t count = workerCount_.load();
  return count == kDefaultWorkers ? platform::logicalProcessorCount() : count;
}

void Screen::stopFrameThread() {
  // Asked first, and without looking at the thread's handle, which only the
  // owner's thread may read.
  if (frameThread_->isCallingThread()) {
    throw std::logic_error("the frame thread cannot stop itself (from a frame callback)");
  }
  if (frameThread_->isRunning() && sceneLock_.isHeldByCurrentThread()) {
    throw std::logic_error(
        "stopFrameThread while holding the scene lock would wait for ever for the frame thread");
  }
  frameThread_->stop();
  frameThreadRunning_ = false;
  sceneGuard_->setFramesRunning(false);
}

void Screen::resize(uint32_t width, uint32_t height) {
  checkedWidth(width, height);
  std::lock_guard lock(sceneLock_);
  const uint32_t oldWidth = width_.load(), oldHeight = height_.load();
  invalidatedSinceFrame_ = true;
  if (width == oldWidth && height == oldHeight) {
    spriteDrawer_->invalidateAll();
    return;
  }
  spriteDrawer_->resize(width, height, bandHeightFor(width));
  if (hdc_ != nullptr) {
    try {
      hdc_->surfaceResized(width, height);
    } catch (...) {
      try {
        spriteDrawer_->resize(oldWidth, oldHeight, bandHeightFor(oldWidth));
      } catch (...) {
        // The drawer keeps the new size, and so does the Screen, whose band
        // memory follows; the device context clips to the old one.
        width_ = width;
        height_ = height;
        ++sizeGeneration_;
      }
      throw;
    }
  }
  width_ = width;
  height_ = height;
  ++sizeGeneration_;
}

void Screen::invalidateAll() {
  std::lock_guard lock(sceneLock_);
  spriteDrawer_->invalidateAll();
  invalidatedSinceFrame_ = true;
}

void Screen::runFrames(ThreadNotifier& notifier, uint32_t composers, WorkerPlacement placement) {
  const bool steers = placement == WorkerPlacement::Steered;
  // A pipeline that cannot be built at first ends the frame thread: no
  // frame could be composed.
  uint64_t generation;
  std::unique_ptr<FramePipeline> pipeline;
  {
    std::lock_guard lock(sceneLock_);
    generation = sizeGeneration_;
    pipeline = std::make_unique<FramePipeline>(*spriteDrawer_, hdc_, composers, steers);
  }
  FailedBandRetry retry;
  bool stopped = false;
  while (!notifier.isInterrupted() && !stopped) {
    bool idle = false;
    try {
      std::lock_guard lock(sceneLock_);
      const auto start = std::chrono::steady_clock::now();
      bool waiting = false;
      try {
        if (generation != sizeGeneration_ || !pipeline) {
          // The band images fit the old size: built anew before any band of
          // the new one is composed. Should that fail, the next round tries
          // again.
          pipeline.reset();
          pipeline = std::make_unique<FramePipeline>(*spriteDrawer_, hdc_, composers, steers);
          generation = sizeGeneration_;
        }
        const bool changed = invalidatedSinceFrame_ || !spriteManager_->pendingSlots().empty() ||
                             spriteManager_->isOrderDirty();
        waiting = retry.waits(start, changed);
        if (!waiting && pipeline->composeFrame()) {
          invalidatedSinceFrame_ = false;
          const auto end = std::chrono::steady_clock::now();
          lastFrameMilliseconds_ = std::chrono::duration<double, std::milli>(end - start).count();
          ++composedFrames_;
          const bool bandFailed = pipeline->takeBandFailure() != nullptr;
          if (bandFailed) ++failedFrames_;
          retry.frameEnded(bandFailed, end);
        }
      } catch (...) {
        // What failed stays marked and is tried again; the callbacks still run.
        ++failedFrames_;
      }
      ++passes_;
      if (std::exception_ptr failure = runFrameCallbacks();
          failure && failurePolicy_ == CallbackFailurePolicy::Stop) {
        // Under the scene lock: nothing composes once it is let go.
        stoppingFailure_ = failure;
        sceneGuard_->setFramesRunning(false);
        frameThreadRunning_ = false;
        stopped = true;
        continue;
      }
      // Waiting to try failed bands again, the frame thread sleeps as if idle.
      idle = waiting || !spriteDrawer_->isDirty();
    } catch (...) {
      // Dropped: the frame loop carries on with the next iteration.
    }
    try {
      pacer_->pause(notifier, idle);
    } catch (const InterruptedException&) {
      break;
    }
  }
  if (stopped && stoppedListener_) {
    try {
      stoppedListener_();
    } catch (...) {
      // The failure is kept for takeStoppingFailure either way.
    }
  }
}

// Runs every callback once, in order, and takes out those that returned
// true. A throwing callback ends the round; the list still keeps every
// callback that has not returned true, once, in order, followed by those
// added during the round.
std::exception_ptr Screen::runFrameCallbacks() {
  std::vector<bool> finished(frameCallbacks_.size(), false);
  const FrameTime time = pacer_->beginRound();
  runningCallbacks_ = true;
  try {
    for (size_t i = 0; i < frameCallbacks_.size(); ++i) {
      finished[i] = frameCallbacks_[i](*this, time);
    }
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    endCallbackRound(finished);
    reportCallbackFailure(failure);
    return failure;
  }
  endCallbackRound(finished);
  return nullptr;
}

void Screen::reportCallbackFailure(std::exception_ptr failure) noexcept {
  ++callbackFailures_;
  try {
    // A handle of the call's own: the handler may replace itself.
    if (const std::shared_ptr<const CallbackErrorHandler> handler = callbackErrorHandler_) {
      (*handler)(failure);
    } else if (!reportedCallbackFailure_) {
      reportedCallbackFailure_ = true;
      std::string what = "an exception of an unknown type";
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        what = e.what();
      } catch (...) {
      }
      std::fprintf(stderr,
                   "nubrik: a frame callback threw: %s (further failures are only counted: "
                   "Screen::getCallbackFailureCount, Screen::setCallbackErrorHandler)\n",
                   what.c_str());
    }
  } catch (...) {
    ++callbackFailures_;
  }
}

void Screen::endCallbackRound(const std::vector<bool>& finished) {
  runningCallbacks_ = false;
  size_t kept = 0;
  for (size_t i = 0; i < frameCallbacks_.size(); ++i) {
    if (finished[i]) continue;
    if (kept != i) frameCallbacks_[kept] = std::move(frameCallbacks_[i]);
    ++kept;
  }
  frameCallbacks_.resize(kept);
  // Should the list fail to grow, what is left waits for the next round.
  size_t moved = 0;
  try {
    for (; moved < addedCallbacks_.size(); ++moved) {
      frameCallbacks_.push_back(std::move(addedCallbacks_[moved]));
    }
  } catch (...) {
    addedCallbacks_.erase(addedCallbacks_.begin(), addedCallbacks_.begin() + moved);
    throw;
  }
  addedCallbacks_.clear();
}

}  // namespace nubrik
