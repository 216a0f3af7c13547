#include "nubrik/screen/frame_pipeline.h"

#include <algorithm>
#include <chrono>
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

// How much of a new measurement an estimate takes.
constexpr double kWeight = 0.5;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void blend(double& estimate, double measured) {
  estimate = estimate == 0 ? measured : estimate + kWeight * (measured - estimate);
}

std::shared_ptr<Image> makeBandImage(const SpriteDrawer& drawer) {
  const uint32_t pitch = drawer.getWidth() * 4;
  return std::make_shared<Image>(drawer.getWidth(), drawer.getBandHeight(), pitch,
                                 MemoryHelper::allocate(size_t{pitch} * drawer.getBandHeight()));
}

}  // namespace

FramePipeline::FramePipeline(SpriteDrawer& drawer, IDeviceContext* hdc, uint32_t composers)
    : drawer_(drawer), hdc_(hdc), own_(std::make_unique<Composer>()) {
  own_->bandImage = makeBandImage(drawer);
  const uint32_t wanted = std::min(std::max(composers, 1u) - 1, kMaxWorkers);
  workers_.reserve(wanted);
  composers_.reserve(wanted);
  try {
    for (uint32_t i = 0; i < wanted; ++i) {
      auto composer = std::make_unique<Composer>();
      composer->bandImage = makeBandImage(drawer);
      auto thread = std::make_unique<Thread>();
      thread->start([this, c = composer.get()](ThreadNotifier&) { workerLoop(*c); });
      // Only workers that run count; the others are simply not there.
      if (thread->isRunning()) {
        composers_.push_back(std::move(composer));
        workers_.push_back(std::move(thread));
      }
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

bool FramePipeline::Estimate::isStale(size_t frameBands) const {
  // Measured on frames of another size: a band of a full frame costs
  // nothing like a band of a frame where little changed.
  const auto b = static_cast<double>(frameBands);
  return b > 2 * bands || 2 * b < bands;
}

void FramePipeline::Estimate::update(double measured, size_t frameBands) {
  if (nsPerBand == 0 || isStale(frameBands)) {
    nsPerBand = measured;
    bands = static_cast<double>(frameBands);
    return;
  }
  blend(nsPerBand, measured);
  blend(bands, static_cast<double>(frameBands));
}

bool FramePipeline::shouldShare(size_t bands) {
  measureFrame_ = true;
  if (workers_.empty() || bands < 2) return false;
  if (sharing_ == Sharing::Always) return true;
  // Each way is measured once before the estimates choose.
  if (alone_.nsPerBand == 0) return false;
  if (shared_.nsPerBand == 0) return true;
  // Too small a frame to repay waking a worker, or a worker that pays nothing.
  const bool advised = shared_.nsPerBand < alone_.nsPerBand &&
                       alone_.nsPerBand * static_cast<double>(bands) >= 2 * joinNs_;
  if (probeLeft_ == 0) {
    if (probed_) {
      // A probe that left the advice as it was is repeated less and less often.
      probed_ = false;
      probeInterval_ = advised == probedAdvice_ ? std::min(2 * probeInterval_, kMaxProbeInterval)
                                                : kProbeInterval;
    }
    // The other way is tried now and then, and at once where its estimate
    // comes from frames of another size.
    if (++framesSinceProbe_ >= probeInterval_ || (advised ? alone_ : shared_).isStale(bands)) {
      framesSinceProbe_ = 0;
      probeLeft_ = 2;
      probedAdvice_ = advised;
    }
  }
  if (probeLeft_ > 0) {
    // A probe is two frames, and only the second is measured: the first
    // finds the caches filled for the other way.
    measureFrame_ = --probeLeft_ == 0;
    probed_ = measureFrame_;
    return !probedAdvice_;
  }
  measureFrame_ = framesSinceProbe_ > 1;
  return advised;
}

bool FramePipeline::composeFrame() {
  if (!drawer_.isDirty()) return false;
  // Workers that took part in the last frame are woken while this one is
  // prepared.
  if (lastShared_) {
    expecting_.store(true, std::memory_order_relaxed);
    wakeSleepers();
  }
  struct Expected {
    std::atomic<bool>& expecting;
    ~Expected() { expecting.store(false, std::memory_order_relaxed); }
  } expected{expecting_};
  drawer_.prepareFrame();

  const std::vector<uint32_t>& bands = drawer_.getDirtyBands();
  failedBands_.clear();
  failedBands_.reserve(bands.size());  // noteFailure never allocates
  firstFailure_ = nullptr;
  bandFailure_ = nullptr;
  bandCount_ = static_cast<uint32_t>(bands.size());
  LentBand probe;
  lending_ = hdc_ != nullptr && hdc_->lendBand(0, drawer_.getBandHeight(), probe);
  lockPresents_ = hdc_ != nullptr && !hdc_->presentsConcurrently();
  nextBand_.store(0, std::memory_order_relaxed);

  measureFrame_ = true;
  const bool shared = shouldShare(bands.size());
  lastShared_ = shared;
  if (!shared) expecting_.store(false, std::memory_order_relaxed);
  const int64_t start = nowNs();
  if (shared) {
    composeShared(*own_);
  } else {
    runDivisor_ = 1;
    composeBands(*own_);
  }
  const int64_t elapsed = nowNs() - start;
  if (!bands.empty() && measureFrame_) {
    const double perBand = static_cast<double>(elapsed) / static_cast<double>(bands.size());
    (shared ? shared_ : alone_).update(perBand, bands.size());
  }
  if (shared) {
    // How soon the first worker joined; one that did not join in time
    // took at least the whole frame.
    int64_t joined = elapsed;
    for (const auto& composer : composers_) {
      const int64_t at = composer->joinedAt.load(std::memory_order_relaxed);
      if (at != 0) joined = std::min(joined, std::max<int64_t>(at - start, 0));
    }
    blend(joinNs_, static_cast<double>(joined));
    ++sharedFrames_;
  }
  ++frames_;

  // Every band is presented: the window may send what it held back.
  if (hdc_ != nullptr) {
    try {
      hdc_->endFrame();
    } catch (...) {
      // Like a failed presentation: the window shows this frame late or not.
    }
  }
  std::sort(failedBands_.begin(), failedBands_.end());
  drawer_.finishFrame(failedBands_);
  bandFailure_ = std::exchange(firstFailure_, nullptr);
  return true;
}

void FramePipeline::composeShared(Composer& composer) {
  runDivisor_ = 4 * static_cast<uint32_t>(workers_.size() + 1);
  for (const auto& c : composers_) c->joinedAt.store(0, std::memory_order_relaxed);
  // Open the next generation with nobody joined: what prepareFrame wrote is
  // published to every worker that joins.
  const uint32_t generation =
      (frameState_.load(std::memory_order_relaxed) & ~(kOpen | kJoinedMask)) + kGeneration;
  frameState_.store(generation | kOpen);
  wakeSleepers();

  composeBands(composer);

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

void FramePipeline::workerLoop(Composer& composer) {
  // Every worker starts before the first frame, which is generation 1; one
  // that runs late still takes part from its first look on.
  uint32_t seen = 0;
  while (true) {
    uint32_t state = frameState_.load(std::memory_order_acquire);
    for (int spins = 0; (state & ~(kOpen | kJoinedMask)) == seen && !stopping_.load(); ++spins) {
      // A frame on its way is waited for spinning: waking from sleep may
      // take longer than the frame.
      if (spins < kIdleSpins || expecting_.load(std::memory_order_relaxed)) {
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
    composer.joinedAt.store(nowNs(), std::memory_order_relaxed);
    composeBands(composer);
    if (((frameState_.fetch_sub(1) - 1) & kJoinedMask) == 0) {
      wakeSleepers();
    }
  }
}

void FramePipeline::composeBands(Composer& composer) noexcept {
  const std::vector<uint32_t>& bands = drawer_.getDirtyBands();
  const uint32_t total = bandCount_;
  uint32_t next = nextBand_.load(std::memory_order_relaxed);
  while (next < total) {
    // A run of bands: the shared counter is written once for all of them.
    const uint32_t run = std::max(1u, (total - next) / runDivisor_);
    if (!nextBand_.compare_exchange_weak(next, next + run, std::memory_order_relaxed)) continue;
    for (uint32_t i = next; i < next + run; ++i) {
      try {
        composeBand(bands[i], composer);
      } catch (...) {
        noteFailure(bands[i]);
      }
    }
    next = nextBand_.load(std::memory_order_relaxed);
  }
}

void FramePipeline::noteFailure(uint32_t band) noexcept {
  std::lock_guard lock(failureLock_);
  failedBands_.push_back(band);  // reserved for every band of the frame
  if (!firstFailure_) firstFailure_ = std::current_exception();
}

void FramePipeline::composeBand(uint32_t band, Composer& composer) {
  const uint32_t bandHeight = drawer_.getBandHeight();
  const auto top = static_cast<int32_t>(uint64_t{band} * bandHeight);
  const uint32_t rows = std::min<uint32_t>(bandHeight, drawer_.getHeight() - top);
  std::unique_lock lock(presentLock_, std::defer_lock);
  LentBand lent;
  // Rows lent too short, too narrow or too tightly packed for the band are
  // not written: the band goes through its image instead.
  if (lending_ && hdc_->lendBand(top, rows, lent) && lent.pixels != nullptr &&
      lent.width >= drawer_.getWidth() && lent.rows >= rows &&
      lent.pitch >= uint64_t{drawer_.getWidth()} * 4) {
    Image view(drawer_.getWidth(), rows, lent.pitch,
               Image::Pixels(Image::Pixels(), lent.pixels));  // not owned
    drawer_.drawBand(band, view);
    if (lockPresents_) lock.lock();
    for (const Rect& rect : drawer_.getBandDamage(band)) hdc_->bandChanged(top, rect);
    return;
  }
  drawer_.drawBand(band, *composer.bandImage);
  if (hdc_ == nullptr) return;
  if (lockPresents_) lock.lock();
  for (const Rect& rect : drawer_.getBandDamage(band)) {
    presentBand(*composer.bandImage, rect, hdc_, top);
  }
}

void presentBand(IImage& image, const Rect& rect, IDeviceContext* hdc, int32_t bandTop) {
  if (hdc == nullptr) return;
  PixelLock lock(image);
  hdc->presentBand(lock.pixels(), image.getPitch(), image.getWidth(), image.getHeight(), bandTop,
                   rect);
}

}  // namespace nubrik
