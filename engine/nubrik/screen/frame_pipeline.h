// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <utility>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/image/image.h"
#include "nubrik/screen/band_composer.h"
#include "nubrik/screen/frame_gate.h"
#include "nubrik/screen/sharing_policy.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/worker_pool.h"

namespace nubrik {

// Composes and presents the frames of one SpriteDrawer on a set of threads:
// the calling thread (the frame thread) and `composers - 1` workers of its
// own, which live as long as the pipeline.
//
// Its parts: the SharingPolicy decides from what the last frames measured
// whether a frame wakes the workers and how; the FrameGate lets the workers
// into a frame and the frame thread close it; the WorkerPool keeps the
// workers, their waiting between frames and their placement; the
// BandComposer hands out the bands and composes and presents them. The
// policy reads no clock: the pipeline tells it when frames open and end.
class FramePipeline {
 public:
  using Sharing = SharingPolicy::Sharing;

  // `composers` of 0 or 1 means the calling thread composes alone. With
  // `steersWorkers`, workers that the system queues behind the calling
  // thread are moved off its processor (see WorkerPool). A worker the
  // platform cannot start is left out. Throws std::bad_alloc (band images)
  // and the exceptions of starting threads.
  FramePipeline(SpriteDrawer& drawer, IDeviceContext* hdc, uint32_t composers,
                bool steersWorkers = true);
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

  // Measured by default; Always and AlwaysStreamed try a shared way alone.
  void setSharing(Sharing sharing) { policy_.setSharing(sharing); }

 private:
  void composeShared();

  SpriteDrawer& drawer_;
  IDeviceContext* hdc_;
  SharingPolicy policy_;
  BandComposer bands_;
  std::shared_ptr<Image> bandImage_;  // the calling thread's
  std::exception_ptr bandFailure_;
  FrameGate gate_;
  // Last: its workers stop before anything they use goes.
  WorkerPool pool_;
};

}  // namespace nubrik
