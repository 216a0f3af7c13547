#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/base/thread.h"
#include "nubrik/image/image.h"
#include "nubrik/screen/sprite_drawer.h"

namespace nubrik {

// Composes and presents the frames of one SpriteDrawer on a set of threads:
// the calling thread and `composers - 1` workers of its own, which live as
// long as the pipeline.
//
// Where the device context lends its window's rows, each band is composed
// straight into them and the device context is told which rectangles
// changed; otherwise each thread composes into a private band image and
// presents the band's rectangles, one transfer at a time unless the device
// context presents concurrently. While several threads compose into lent
// rows, the memory they all write may be what bounds them; bands changed
// in wide rectangles may then be composed in the band image and streamed
// into the rows around the cache, whichever the measures say is faster.
//
// Bands are handed out in runs that shrink as the frame empties (a quarter
// of what is left per thread, then less), so that the threads write the
// shared counter a few times per frame, not once per band, and still end
// together. Whether a frame wakes the workers at all is decided from what
// the pipeline measured on the last frames (medians of a few, preparation
// included): how long a band takes alone and shared, and how long a worker
// takes to join. A frame too small to repay the waking, or a machine that
// gives nothing for a second thread at the moment, is composed by the
// calling thread alone. Now and then a frame tries the other way (at once
// when the estimate for it comes from frames of another size), and what it
// measures replaces the estimate, so that the choice follows the frames and
// the machine.
//
// Workers wait for a frame without any lock: between shared frames that
// come regularly they wait awake around the time the next is due, and
// otherwise sleep. A worker that has not joined soon after a frame opened
// is steered off the calling thread's processor, where the system may have
// queued it. A worker joins a frame only while it is open; the caller closes
// it once every joined worker is done, so a worker that wakes late simply
// skips the frame and is never waited for.
class FramePipeline {
 public:
  // The most workers a pipeline starts.
  static constexpr uint32_t kMaxWorkers = 1023;
  // One frame in this many, at first, tries the way the estimates advise
  // against; while probes confirm the advice, one in up to kMaxProbeInterval.
  static constexpr uint32_t kProbeInterval = 32;
  static constexpr uint32_t kMaxProbeInterval = 512;

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
  // the drawer dirty. A band whose composition or presentation fails does
  // not stop anyone: every other band is still composed, the frame ends,
  // and the failed bands stay marked for the next frame; takeBandFailure
  // tells.
  bool composeFrame();
  // The first failure of a band in the last frame, once; null when every
  // band was composed.
  std::exception_ptr takeBandFailure() { return std::exchange(bandFailure_, nullptr); }

  // Whether frames wake the workers: as measured (the default), or always
  // (to try or to measure a shared way on its own), composing in place or
  // streaming wide bands into lent rows.
  enum class Sharing { Measured, Always, AlwaysStreamed };
  void setSharing(Sharing sharing) { sharing_ = sharing; }

  uint32_t getWorkerCount() const { return static_cast<uint32_t>(workers_.size()); }
  // Frames composed with the workers woken, and in all.
  uint64_t getSharedFrameCount() const { return sharedFrames_; }
  uint64_t getFrameCount() const { return frames_; }

 private:
  // frameState_: the frame's generation (bits 17 to 31), whether it is open
  // (bit 16), and how many workers have joined it (bits 0 to 15).
  static constexpr uint32_t kOpen = 1u << 16;
  static constexpr uint32_t kJoinedMask = kOpen - 1;
  static constexpr uint32_t kGeneration = 1u << 17;

  // What one composing thread owns, on cache lines of its own.
  struct alignas(64) Composer {
    std::shared_ptr<Image> bandImage;
    // When the worker joined the current frame (steady clock, ns).
    std::atomic<int64_t> joinedAt{0};
    // The worker's processors, set by the worker as it starts; whether the
    // frame thread has steered it off its own.
    std::atomic<platform::ProcessorSteerObject*> steer{nullptr};
    std::atomic<bool> steered{false};
  };

  void workerLoop(Composer& composer);
  void composeBands(Composer& composer) noexcept;
  // Steers the workers that have not joined a frame open this long off the
  // calling thread's processor, once per frame.
  void steerLateWorkers(int64_t now) noexcept;
  void composeRun(const SpriteDrawer::BandRun& run, Composer& composer);
  void composeBand(uint32_t band, Composer& composer);
  void noteFailure(uint32_t band) noexcept;
  bool shouldShare(size_t bands);
  bool shouldStream();
  // Takes a shared frame's measures into the estimates.
  void noteSharedFrame(int64_t start, int64_t elapsed, int64_t prepared, size_t bands,
                       bool followsShared);
  void composeShared(Composer& composer);
  void stopWorkers() noexcept;
  // Sleeps while frameState_ holds `expected`, at most `timeoutNs`; wakes
  // every sleeper, and costs nothing when nobody sleeps.
  void sleepWhile(uint32_t expected, uint64_t timeoutNs = platform::kWaitForever);
  void wakeSleepers();

  SpriteDrawer& drawer_;
  IDeviceContext* hdc_;
  // The drawer's runs this frame; written by the calling thread only,
  // before a frame opens.
  uint32_t runCount_ = 0;
  // When the shared frame opened (ns), and whether late workers may still
  // be steered in it; the calling thread's.
  int64_t openedAt_ = 0;
  bool steering_ = false;
  uint32_t runDivisor_ = 1;
  bool lending_ = false;
  bool lockPresents_ = true;
  Sharing sharing_ = Sharing::Measured;
  // What a band costs one way (its share of the frame's preparation
  // included), and the size of the frames that said so.
  struct Estimate {
    static constexpr size_t kKept = 3;
    double nsPerBand = 0;
    double bands = 0;
    std::array<double, kKept> recent{};
    size_t count = 0;
    bool isStale(size_t frameBands) const;
    // The median of the last few measures, from this one alone when it is
    // `fresh` (a probe's, which measures the machine as it is now).
    void update(double measured, size_t frameBands, bool fresh);
  };
  // The better of the two shared ways' estimates.
  Estimate& sharedEstimate();
  // Estimates, in ns, kept by the calling thread: alone, shared composing
  // in place, and shared streaming wide bands into lent rows.
  Estimate alone_;
  Estimate shared_;
  Estimate streamed_;
  uint32_t sharedSinceProbe_ = 0;
  // Whether this frame streams wide bands into lent rows.
  bool streaming_ = false;
  // How long a worker takes to join (ns, per frame rather than per band).
  Estimate join_;
  // The time between the last two frames, and when the last one ended
  // (steady clock, ns).
  int64_t gapNs_ = 0;
  int64_t lastFrameEnd_ = 0;
  uint32_t framesSinceProbe_ = 0;
  uint32_t probeInterval_ = kProbeInterval;
  // Frames left in the current probe, what the estimates advised when it
  // began, and whether one has just ended.
  uint32_t probeLeft_ = 0;
  bool probedAdvice_ = false;
  bool probed_ = false;
  // Whether this frame's measures replace what the estimates held.
  bool freshMeasure_ = false;
  // Whether this frame's time goes into the estimates.
  bool measureFrame_ = true;
  uint64_t sharedFrames_ = 0;
  uint64_t frames_ = 0;

  alignas(64) std::atomic<uint32_t> nextBand_{0};
  alignas(64) std::atomic<uint32_t> frameState_{0};
  alignas(64) std::atomic<uint32_t> sleepers_{0};
  alignas(64) std::atomic<bool> stopping_{false};
  // Whether a frame that will wake the workers is being prepared.
  std::atomic<bool> expecting_{false};
  // When the workers of the shared frame of generation dueFor_ wait awake
  // for the next frame (steady clock, ns; until 0 when it is not expected).
  std::atomic<int64_t> awakeFrom_{0};
  std::atomic<int64_t> awakeUntil_{0};
  std::atomic<uint32_t> dueFor_{0};
  // The processor the calling thread ended the last shared frame on.
  std::atomic<int> frameProcessor_{-1};
  bool lastShared_ = false;
  // Guards the transfers to a device context that takes one at a time.
  alignas(64) std::mutex presentLock_;
  // Guards the failures, which are rare.
  std::mutex failureLock_;
  std::vector<uint32_t> failedBands_;
  std::exception_ptr firstFailure_;
  std::exception_ptr bandFailure_;

  std::unique_ptr<Composer> own_;
  std::vector<std::unique_ptr<Composer>> composers_;
  std::vector<std::unique_ptr<Thread>> workers_;
};

// Copies `rect` (surface coordinates) of a band image whose first row is
// surface row `bandTop` to the device context.
void presentBand(IImage& image, const Rect& rect, IDeviceContext* hdc, int32_t bandTop);

}  // namespace nubrik
