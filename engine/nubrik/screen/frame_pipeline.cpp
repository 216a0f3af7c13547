#include "nubrik/screen/frame_pipeline.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "nubrik/image/memory_helper.h"
#include "nubrik/image/pixel_lock.h"

namespace nubrik {

namespace {

// A polite busy-wait step: lets the other hyper-thread run.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// How long a thread spins before it sleeps: a worker between frames, and the
// frame thread for the last bands of its workers.
constexpr int kIdleSpins = 512;
constexpr int kFinishSpins = 8192;

std::shared_ptr<Image> makeBandImage(const SpriteDrawer& drawer) {
  const uint32_t pitch = drawer.getWidth() * 4;
  return std::make_shared<Image>(drawer.getWidth(), drawer.getBandHeight(), pitch,
                                 MemoryHelper::allocate(size_t{pitch} * drawer.getBandHeight()));
}

}  // namespace

FramePipeline::FramePipeline(SpriteDrawer& drawer, IDeviceContext* hdc, uint32_t composers)
    : drawer_(drawer), hdc_(hdc), ownBand_(makeBandImage(drawer)) {
  const uint32_t wanted = std::min(std::max(composers, 1u) - 1, kMaxWorkers);
  workers_.reserve(wanted);
  try {
    for (uint32_t i = 0; i < wanted; ++i) {
      auto thread = std::make_unique<Thread>();
      thread->start([this, band = makeBandImage(drawer)](ThreadNotifier&) { workerLoop(*band); });
      // Only workers that run count; the others are simply not there.
      if (thread->isRunning()) workers_.push_back(std::move(thread));
    }
  } catch (...) {
    stopWorkers();
    throw;
  }
}

FramePipeline::~FramePipeline() { stopWorkers(); }

void FramePipeline::stopWorkers() noexcept {
  stopping_.store(true);
  // A new generation wakes every sleeping worker, which then sees the stop.
  frameState_.fetch_add(kGeneration);
  wakeSleepers();
  for (auto& worker : workers_) worker->join();
  workers_.clear();
}

bool FramePipeline::composeFrame() {
  if (!drawer_.isDirty()) return false;
  drawer_.prepareFrame();

  nextBand_.store(0, std::memory_order_relaxed);
  // Open the next generation with nobody joined: what prepareFrame wrote is
  // published to every worker that joins.
  const uint32_t generation =
      (frameState_.load(std::memory_order_relaxed) & ~(kOpen | kJoinedMask)) + kGeneration;
  frameState_.store(generation | kOpen);
  if (!workers_.empty() && drawer_.getDirtyBands().size() > 1) wakeSleepers();

  composeBands(*ownBand_);

  // Close once no worker is inside; a worker that joins meanwhile is waited
  // for in the next round of the loop.
  uint32_t state = frameState_.load(std::memory_order_acquire);
  for (int spins = 0;;) {
    if ((state & kJoinedMask) == 0) {
      if (frameState_.compare_exchange_weak(state, state & ~kOpen, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
        break;
      }
      continue;
    }
    if (++spins < kFinishSpins) {
      relax();
      state = frameState_.load(std::memory_order_acquire);
    } else {
      sleepWhile(state);
      state = frameState_.load(std::memory_order_acquire);
    }
  }
  // Every band is presented: the window may send what it held back.
  if (hdc_ != nullptr) {
    try {
      hdc_->endFrame();
    } catch (...) {
      // Like a failed presentation: the window shows this frame late or not.
    }
  }
  drawer_.finishFrame();
  return true;
}

void FramePipeline::sleepWhile(uint32_t expected) {
  sleepers_.fetch_add(1);
  if (frameState_.load() == expected) platform::waitOnWord(frameState_, expected);
  sleepers_.fetch_sub(1);
}

void FramePipeline::wakeSleepers() {
  // Every change of frameState_ that wakes is sequentially consistent, like
  // sleepWhile's count and look: either a sleeper is counted here, or it
  // sees the changed state before it sleeps.
  if (sleepers_.load() != 0) platform::wakeWord(frameState_);
}

void FramePipeline::workerLoop(Image& bandImage) {
  // Every worker starts before the first frame, which is generation 1; one
  // that runs late still takes part from its first look on.
  uint32_t seen = 0;
  while (true) {
    uint32_t state = frameState_.load(std::memory_order_acquire);
    for (int spins = 0; (state & ~(kOpen | kJoinedMask)) == seen && !stopping_.load(); ++spins) {
      if (spins < kIdleSpins) {
        relax();
      } else {
        sleepWhile(state);
      }
      state = frameState_.load(std::memory_order_acquire);
    }
    if (stopping_.load()) return;
    seen = state & ~(kOpen | kJoinedMask);
    // Join the frame only while it is open and still the one that woke us.
    bool joined = false;
    while ((state & kOpen) != 0 && (state & ~(kOpen | kJoinedMask)) == seen) {
      if (frameState_.compare_exchange_weak(state, state + 1, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
        joined = true;
        break;
      }
    }
    if (!joined) continue;
    composeBands(bandImage);
    if (((frameState_.fetch_sub(1) - 1) & kJoinedMask) == 0) {
      wakeSleepers();
    }
  }
}

void FramePipeline::composeBands(Image& bandImage) noexcept {
  try {
    const std::vector<uint32_t>& bands = drawer_.getDirtyBands();
    const int32_t bandHeight = static_cast<int32_t>(drawer_.getBandHeight());
    while (true) {
      const uint32_t next = nextBand_.fetch_add(1, std::memory_order_relaxed);
      if (next >= bands.size()) return;
      const uint32_t band = bands[next];
      drawer_.drawBand(band, bandImage);
      std::lock_guard lock(presentLock_);
      for (const Rect& rect : drawer_.getBandDamage(band)) {
        presentBand(bandImage, rect, hdc_, static_cast<int32_t>(band) * bandHeight);
      }
    }
  } catch (...) {
    // This thread takes no further band this frame; the others go on.
  }
}

void presentBand(IImage& image, const Rect& rect, IDeviceContext* hdc, int32_t bandTop) {
  if (hdc == nullptr) return;
  PixelLock lock(image);
  hdc->presentBand(lock.pixels(), image.getPitch(), image.getWidth(), image.getHeight(), bandTop,
                   rect);
}

}  // namespace nubrik
