#include "nubrik/screen/frame_pipeline.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "nubrik/image/memory_helper.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/image/streamed_copy.h"

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
// A worker woken by another thread may wait behind that thread on its
// processor for a scheduler tick or more while the other processor idles:
// joins of 0.5 to 2 ms were measured against a 4 us wake, worst where the
// processors are virtual and an idle one is halted. A worker woken by its
// own timer runs on its own processor at once. So between shared frames that
// come regularly (at most kMaxExpectedGapNs apart) a worker sleeps with a
// timeout that ends a little before the next frame is due, and waits awake
// until as long after. That little is a quarter of the last shared frame's
// composition, between kMinWakeLeadNs and kMaxWakeLeadNs: the time spent
// awake stays well under what the worker saves. (Waiting awake through the
// whole gap took a second processor all the time in the demonstration.)
constexpr int64_t kMinWakeLeadNs = 20'000;
constexpr int64_t kMaxWakeLeadNs = 250'000;
constexpr int64_t kMaxExpectedGapNs = 100'000'000;
// A shared frame must measure at most this much of one composed alone:
// where the two are within the noise, one thread does the work for less.
constexpr double kLeastGain = 0.95;
// How often a worker waiting awake lets anything else runnable on its
// processor go first.
constexpr int kYieldSpins = 256;
// A worker that has not joined a shared frame this long after it opened is
// taken to be queued behind the frame thread, and steered off its processor;
// so is one waiting awake on it. It is let back onto every processor once no
// frame is expected soon. Joins that work take microseconds.
constexpr int64_t kSteerAfterNs = 100'000;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
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

void FramePipeline::Estimate::update(double measured, size_t frameBands, bool fresh) {
  if (fresh || count == 0 || isStale(frameBands)) count = 0;
  recent[count++ % recent.size()] = measured;
  // The median of the last few: one frame the host delayed moves nothing.
  std::array<double, kKept> sorted = recent;
  const size_t kept = std::min<size_t>(count, sorted.size());
  std::nth_element(sorted.begin(), sorted.begin() + kept / 2, sorted.begin() + kept);
  nsPerBand = sorted[kept / 2];
  bands = count == 1 ? static_cast<double>(frameBands) : (bands + frameBands) / 2;
}

bool FramePipeline::shouldStream() {
  if (!lending_ || sharing_ == Sharing::Always) return false;
  if (sharing_ == Sharing::AlwaysStreamed) return true;
  // Each variant is measured once before the estimates choose.
  if (shared_.nsPerBand == 0) return false;
  if (streamed_.nsPerBand == 0) return true;
  const bool advised = streamed_.nsPerBand < shared_.nsPerBand;
  // The other variant is tried for two shared frames now and then, the
  // second measured; so is the first frame back.
  if (++sharedSinceProbe_ >= kProbeInterval + 3) sharedSinceProbe_ = 0;
  if (sharedSinceProbe_ >= kProbeInterval) {
    measureFrame_ = measureFrame_ && sharedSinceProbe_ == kProbeInterval + 1;
    freshMeasure_ = measureFrame_;
    return !advised;
  }
  measureFrame_ = measureFrame_ && sharedSinceProbe_ != 0;
  return advised;
}

FramePipeline::Estimate& FramePipeline::sharedEstimate() {
  return lending_ && streamed_.nsPerBand != 0 && streamed_.nsPerBand < shared_.nsPerBand ? streamed_
                                                                                         : shared_;
}

bool FramePipeline::shouldShare(size_t bands) {
  measureFrame_ = true;
  freshMeasure_ = false;
  if (workers_.empty() || bands < 2) return false;
  if (sharing_ != Sharing::Measured) return true;
  // Each way is measured once before the estimates choose.
  const Estimate& shared = sharedEstimate();
  if (alone_.nsPerBand == 0) return false;
  if (shared.nsPerBand == 0) return true;
  // Shared, the calling thread composes alone until the first worker joins,
  // then both go at the shared rate. Too small a frame to repay waking a
  // worker, or a worker that pays too little to be told from the noise of
  // the measures, is composed alone.
  const double b = static_cast<double>(bands);
  const double aloneNs = b * alone_.nsPerBand;
  const double sharedNs =
      join_.nsPerBand + std::max(0.0, b - join_.nsPerBand / alone_.nsPerBand) * shared.nsPerBand;
  const bool advised = sharedNs < kLeastGain * aloneNs;
  if (probeLeft_ == 0) {
    if (probed_) {
      // A probe that left the advice as it was is repeated less and less often.
      probed_ = false;
      probeInterval_ = advised == probedAdvice_ ? std::min(2 * probeInterval_, kMaxProbeInterval)
                                                : kProbeInterval;
    }
    // The other way is tried now and then, and at once where its estimate
    // comes from frames of another size.
    if (++framesSinceProbe_ >= probeInterval_ || (advised ? alone_ : shared).isStale(bands)) {
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
    freshMeasure_ = measureFrame_;
    return !probedAdvice_;
  }
  measureFrame_ = framesSinceProbe_ > 1;
  return advised;
}

bool FramePipeline::composeFrame() {
  if (!drawer_.isDirty()) return false;
  // Workers that took part in the last frame are woken while this one is
  // prepared.
  const int64_t opened = nowNs();
  if (lastFrameEnd_ != 0) gapNs_ = opened - lastFrameEnd_;
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
  if (bands.empty()) {
    // Changes that draw as before: nothing to compose.
    drawer_.finishFrame();
    return false;
  }
  failedBands_.clear();
  failedBands_.reserve(bands.size());  // noteFailure never allocates
  firstFailure_ = nullptr;
  bandFailure_ = nullptr;
  runCount_ = static_cast<uint32_t>(drawer_.getDirtyRuns().size());
  LentBand probe;
  lending_ = hdc_ != nullptr && hdc_->lendBand(0, drawer_.getBandHeight(), probe);
  lockPresents_ = hdc_ != nullptr && !hdc_->presentsConcurrently();
  nextBand_.store(0, std::memory_order_relaxed);

  measureFrame_ = true;
  const bool shared = shouldShare(bands.size());
  streaming_ = shared && shouldStream();
  const bool followsShared = lastShared_;
  lastShared_ = shared;
  if (!shared) expecting_.store(false, std::memory_order_relaxed);
  const int64_t start = nowNs();
  if (shared) {
    composeShared(*own_);
  } else {
    runDivisor_ = 1;
    steering_ = false;  // nobody is expected to join
    composeBands(*own_);
  }
  const int64_t elapsed = nowNs() - start;
  if (shared) {
    // When the next frame is due, were it to come after the same gap.
    const int64_t now = nowNs();
    const bool regular = gapNs_ > 0 && gapNs_ <= kMaxExpectedGapNs;
    const int64_t lead = std::clamp(elapsed / 4, kMinWakeLeadNs, kMaxWakeLeadNs);
    awakeFrom_.store(now + gapNs_ - lead, std::memory_order_relaxed);
    awakeUntil_.store(regular ? now + gapNs_ + lead : 0, std::memory_order_relaxed);
    frameProcessor_.store(platform::currentProcessor(), std::memory_order_relaxed);
    dueFor_.store(frameState_.load(std::memory_order_relaxed) & ~(kOpen | kJoinedMask),
                  std::memory_order_release);
    noteSharedFrame(start, elapsed, start - opened, bands.size(), followsShared);
    ++sharedFrames_;
  } else if (!bands.empty() && measureFrame_) {
    alone_.update(static_cast<double>(nowNs() - opened) / static_cast<double>(bands.size()),
                  bands.size(), freshMeasure_);
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
  lastFrameEnd_ = nowNs();
  return true;
}

void FramePipeline::noteSharedFrame(int64_t start, int64_t elapsed, int64_t prepared, size_t bands,
                                    bool followsShared) {
  // How soon the first worker joined; one that did not join in time took at
  // least the whole frame.
  int64_t joined = elapsed;
  for (const auto& composer : composers_) {
    const int64_t at = composer->joinedAt.load(std::memory_order_relaxed);
    if (at != 0) joined = std::min(joined, std::max<int64_t>(at - start, 0));
  }
  // Joins of frames that followed shared ones, whose workers were awake
  // when they opened: what a run of shared frames pays for each. (The first
  // frame of a run pays more, once.)
  if (followsShared) join_.update(static_cast<double>(joined), bands, freshMeasure_);
  if (!measureFrame_) return;
  // What a band costs while the threads compose together: the bands the
  // calling thread composed alone before the first join are taken out, so
  // that a late join does not count against sharing itself. Like a frame
  // composed alone, it counts the frame's preparation, which a shared frame
  // before it slows down: the commands it rewrites were read on other
  // processors (0.63 against 1.02 ms with 10,000 sprites moved, measured).
  const double b = static_cast<double>(bands);
  const double before =
      alone_.nsPerBand > 0 ? std::min(b, static_cast<double>(joined) / alone_.nsPerBand) : 0;
  if (b - before < 2) return;  // nobody shared enough of it to tell
  const double together =
      static_cast<double>(prepared + elapsed - (alone_.nsPerBand > 0 ? joined : 0)) / (b - before);
  (streaming_ ? streamed_ : shared_).update(together, bands, freshMeasure_);
}

void FramePipeline::composeShared(Composer& composer) {
  runDivisor_ = 4 * static_cast<uint32_t>(workers_.size() + 1);
  for (const auto& c : composers_) c->joinedAt.store(0, std::memory_order_relaxed);
  // Open the next generation with nobody joined: what prepareFrame wrote is
  // published to every worker that joins.
  const uint32_t generation =
      (frameState_.load(std::memory_order_relaxed) & ~(kOpen | kJoinedMask)) + kGeneration;
  openedAt_ = nowNs();
  steering_ = true;
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

void FramePipeline::sleepWhile(uint32_t expected, uint64_t timeoutNs) {
  sleepers_.fetch_add(1);
  if (frameState_.load() == expected) platform::waitOnWord(frameState_, expected, timeoutNs);
  sleepers_.fetch_sub(1);
}

void FramePipeline::wakeSleepers() {
  // Every change of frameState_ that wakes is sequentially consistent, like
  // sleepWhile's count and look: either a sleeper is counted here, or it
  // sees the changed state before it sleeps.
  if (sleepers_.load() != 0) platform::wakeWord(frameState_);
}

void FramePipeline::workerLoop(Composer& composer) {
  // Released by the worker as it ends, which is only while the pipeline
  // stops, between frames: the frame thread steers only inside one.
  struct Steer {
    Composer& composer;
    ~Steer() { platform::releaseProcessorSteer(composer.steer.exchange(nullptr)); }
  } steer{composer};
  composer.steer.store(platform::createProcessorSteer(), std::memory_order_release);
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
      } else if (dueFor_.load(std::memory_order_acquire) != seen) {
        // The frame thread is about to say when the next frame is due.
        std::this_thread::yield();
      } else {
        const int64_t from = awakeFrom_.load(std::memory_order_relaxed);
        const int64_t until = awakeUntil_.load(std::memory_order_relaxed);
        const int64_t now = nowNs();
        if (now >= until) {
          // No frame soon: nothing to keep it off any processor for.
          if (composer.steered.exchange(false, std::memory_order_acquire)) {
            platform::restoreProcessors(composer.steer.load(std::memory_order_relaxed));
          }
          sleepWhile(state);
        } else if (now < from) {
          sleepWhile(state, static_cast<uint64_t>(from - now));
        } else if (spins % kYieldSpins == 0) {
          // Awake on the frame thread's processor, it would only delay the
          // frame and join after it: it moves.
          const int processor = platform::currentProcessor();
          if (processor >= 0 && processor == frameProcessor_.load(std::memory_order_relaxed) &&
              platform::steerOffCallersProcessor(composer.steer.load(std::memory_order_relaxed))) {
            composer.steered.store(true, std::memory_order_relaxed);
          }
          std::this_thread::yield();
        } else {
          relax();
        }
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
  const std::vector<SpriteDrawer::BandRun>& runs = drawer_.getDirtyRuns();
  const uint32_t total = runCount_;
  uint32_t next = nextBand_.load(std::memory_order_relaxed);
  while (next < total) {
    // Several of the drawer's runs: the shared counter is written once for
    // all of them.
    const uint32_t take = std::max(1u, (total - next) / runDivisor_);
    if (!nextBand_.compare_exchange_weak(next, next + take, std::memory_order_relaxed)) continue;
    for (uint32_t i = next; i < next + take; ++i) {
      try {
        composeRun(runs[i], composer);
      } catch (...) {
        for (uint32_t band = runs[i].first; band < runs[i].first + runs[i].count; ++band) {
          noteFailure(band);
        }
      }
      if (&composer == own_.get() && steering_) steerLateWorkers(nowNs());
    }
    next = nextBand_.load(std::memory_order_relaxed);
  }
}

void FramePipeline::composeRun(const SpriteDrawer::BandRun& run, Composer& composer) {
  if (run.count > 1 && lending_ && !streaming_) {
    // The run's rows, lent as one region, are composed at once.
    const uint32_t bandHeight = drawer_.getBandHeight();
    const auto top = static_cast<int32_t>(uint64_t{run.first} * bandHeight);
    const auto rows = static_cast<uint32_t>(
        std::min<uint64_t>(uint64_t{run.count} * bandHeight, drawer_.getHeight() - top));
    LentBand lent;
    if (hdc_->lendBand(top, rows, lent) && lent.pixels != nullptr &&
        lent.width >= drawer_.getWidth() && lent.rows >= rows &&
        lent.pitch >= uint64_t{drawer_.getWidth()} * 4) {
      Image view(drawer_.getWidth(), rows, lent.pitch,
                 Image::Pixels(Image::Pixels(), lent.pixels));  // not owned
      drawer_.drawRun(run, view);
      std::unique_lock lock(presentLock_, std::defer_lock);
      if (lockPresents_) lock.lock();
      for (uint32_t band = run.first; band < run.first + run.count; ++band) {
        for (const Rect& rect : drawer_.getBandDamage(band)) {
          hdc_->bandChanged(static_cast<int32_t>(uint64_t{band} * bandHeight), rect);
        }
      }
      return;
    }
  }
  for (uint32_t band = run.first; band < run.first + run.count; ++band) {
    composeBand(band, composer);
  }
}

void FramePipeline::steerLateWorkers(int64_t now) noexcept {
  if (now - openedAt_ < kSteerAfterNs) return;
  steering_ = false;
  for (const auto& composer : composers_) {
    platform::ProcessorSteerObject* steer = composer->steer.load(std::memory_order_acquire);
    if (composer->joinedAt.load(std::memory_order_relaxed) == 0 && steer != nullptr &&
        platform::steerOffCallersProcessor(steer)) {
      composer->steered.store(true, std::memory_order_release);
    }
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
    const BandDamage& damage = drawer_.getBandDamage(band);
    if (streaming_ && std::all_of(damage.begin(), damage.end(), [](const Rect& r) {
          return size_t(r.right - r.left) * 4 >= kMinStreamedRowBytes;
        })) {
      // Composed in the cache and streamed out: the window's rows are not
      // read in first.
      Image& image = *composer.bandImage;
      drawer_.drawBand(band, image);
      for (const Rect& r : damage) {
        copyRowsStreamed(
            lent.pixels + int64_t{r.top - top} * lent.pitch + int64_t{r.left} * 4, lent.pitch,
            image.pixels().get() + int64_t{r.top - top} * image.getPitch() + int64_t{r.left} * 4,
            image.getPitch(), size_t(r.right - r.left) * 4,
            static_cast<uint32_t>(r.bottom - r.top));
      }
    } else {
      Image view(drawer_.getWidth(), rows, lent.pitch,
                 Image::Pixels(Image::Pixels(), lent.pixels));  // not owned
      drawer_.drawBand(band, view);
    }
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
