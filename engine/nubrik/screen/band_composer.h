// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/image/image.h"

namespace nubrik {

class SpriteDrawer;

// Composes the bands of one frame on every thread that takes part, and
// presents them.
//
// The drawer's runs of bands are handed out from a shared counter, in takes
// that shrink as the frame empties (a quarter of what is left per thread,
// then less), so that the threads write the counter a few times per frame,
// not once per run, and still end together.
//
// Where the device context lends its window's rows, each run is composed
// straight into them and the device context is told which rectangles
// changed; otherwise each thread composes into its own band image and
// presents the band's rectangles, one transfer at a time unless the device
// context presents concurrently. While several threads compose into lent
// rows, the memory they all write may be what bounds them: a streamed frame
// composes bands changed in wide rectangles in the band image and streams
// them into the rows around the cache.
//
// A run whose composition or presentation fails does not stop anyone: its
// bands are noted as failed and every other run is still composed.
class BandComposer {
 public:
  BandComposer(SpriteDrawer& drawer, IDeviceContext* hdc) : drawer_(drawer), hdc_(hdc) {}
  BandComposer(const BandComposer&) = delete;
  BandComposer& operator=(const BandComposer&) = delete;

  // Whether the device context lends its rows (asks it, for the first band).
  bool deviceLendsRows() const;
  // Frame thread, after the drawer prepared the frame and before any thread
  // composes: the frame is shared among `threads` threads, streamed or not.
  void beginFrame(bool lending, bool streamed, uint32_t threads);
  // Any thread of the frame: takes runs until none is left, composing them
  // with `bandImage` where rows are not lent; calls `afterRun()` after each.
  template <class AfterRun>
  void composeRuns(Image& bandImage, AfterRun afterRun) noexcept;
  // Frame thread, once every thread is done: the bands that failed, in
  // increasing order, and the first failure (once).
  const std::vector<uint32_t>& sortFailedBands();
  std::exception_ptr takeFirstFailure() { return std::exchange(firstFailure_, nullptr); }

 private:
  void composeRunOrNoteFailure(uint32_t run, Image& bandImage) noexcept;
  void composeRun(uint32_t run, Image& bandImage);
  void composeBand(uint32_t band, Image& bandImage);
  // Rows lent for `rows` rows from `top`, when they are wide, long and
  // loosely enough packed for them; otherwise false.
  bool lendRows(int32_t top, uint32_t rows, LentBand& lent) const;
  void reportChanged(uint32_t firstBand, uint32_t count);

  SpriteDrawer& drawer_;
  IDeviceContext* hdc_;
  // Written by the frame thread only, before a frame opens.
  uint32_t runCount_ = 0;
  uint32_t runDivisor_ = 1;
  bool lending_ = false;
  bool streaming_ = false;
  bool lockPresents_ = true;
  alignas(64) std::atomic<uint32_t> nextRun_{0};
  // Guards the transfers to a device context that takes one at a time.
  alignas(64) std::mutex presentLock_;
  // Guards the failures, which are rare.
  std::mutex failureLock_;
  std::vector<uint32_t> failedBands_;
  std::exception_ptr firstFailure_;
};

// Copies `rect` (surface coordinates) of a band image whose first row is
// surface row `bandTop` to the device context.
void presentBand(IImage& image, const Rect& rect, IDeviceContext* hdc, int32_t bandTop);

template <class AfterRun>
void BandComposer::composeRuns(Image& bandImage, AfterRun afterRun) noexcept {
  const uint32_t total = runCount_;
  uint32_t next = nextRun_.load(std::memory_order_relaxed);
  while (next < total) {
    const uint32_t take = std::max(1u, (total - next) / runDivisor_);
    if (!nextRun_.compare_exchange_weak(next, next + take, std::memory_order_relaxed)) continue;
    for (uint32_t run = next; run < next + take; ++run) {
      composeRunOrNoteFailure(run, bandImage);
      afterRun();
    }
    next = nextRun_.load(std::memory_order_relaxed);
  }
}

}  // namespace nubrik
