#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/base/thread.h"
#include "nubrik/image/image.h"
#include "nubrik/screen/sprite_drawer.h"

namespace nubrik {

// Composes and presents the frames of one SpriteDrawer on a set of threads:
// the calling thread and `composers - 1` workers of its own, which live as
// long as the pipeline. Each frame's bands are handed out by an atomic
// counter; each thread composes a band into its private band image and
// presents the band's rectangles straight to the device context, one
// transfer at a time.
//
// Workers wait for a frame without any lock, spinning briefly and then
// sleeping. A worker joins a frame only while it is open; the caller closes
// it once every joined worker is done, so a worker that wakes late simply
// skips the frame and is never waited for.
class FramePipeline {
 public:
  // `composers` of 0 or 1 means the calling thread composes alone. A worker
  // the platform cannot start is left out. Throws std::bad_alloc (band
  // images) and the exceptions of starting threads.
  FramePipeline(SpriteDrawer& drawer, IDeviceContext* hdc, uint32_t composers);
  // Stops and joins every worker.
  ~FramePipeline();
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // When the drawer is dirty: prepares the frame, composes and presents
  // every band with something to redraw, and finishes the frame; returns
  // whether it did. A failure of prepareFrame reaches the caller and leaves
  // the drawer dirty. A failure while composing or presenting a band is
  // contained: that thread takes no further band, the others take the rest,
  // and the frame still ends (the failed band is not presented).
  bool composeFrame();

  uint32_t getWorkerCount() const { return static_cast<uint32_t>(workers_.size()); }

 private:
  // frameState_: the frame's generation (bits 17 to 31), whether it is open
  // (bit 16), and how many workers have joined it (bits 0 to 15).
  static constexpr uint32_t kOpen = 1u << 16;
  static constexpr uint32_t kJoinedMask = kOpen - 1;
  static constexpr uint32_t kGeneration = 1u << 17;
  static constexpr uint32_t kMaxWorkers = 1024;

  void workerLoop(Image& bandImage);
  void composeBands(Image& bandImage) noexcept;
  void stopWorkers() noexcept;
  // Sleeps while frameState_ holds `expected`; wakes every sleeper, and
  // costs nothing when nobody sleeps.
  void sleepWhile(uint32_t expected);
  void wakeSleepers();

  SpriteDrawer& drawer_;
  IDeviceContext* hdc_;
  std::shared_ptr<Image> ownBand_;
  std::atomic<uint32_t> nextBand_{0};
  std::atomic<uint32_t> frameState_{0};
  std::atomic<uint32_t> sleepers_{0};
  std::atomic<bool> stopping_{false};
  // Guards only the transfers to the device context.
  std::mutex presentLock_;
  std::vector<std::unique_ptr<Thread>> workers_;
};

// Copies `rect` (surface coordinates) of a band image whose first row is
// surface row `bandTop` to the device context.
void presentBand(IImage& image, const Rect& rect, IDeviceContext* hdc, int32_t bandTop);

}  // namespace nubrik
