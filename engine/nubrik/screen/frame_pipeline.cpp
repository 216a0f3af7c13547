#include "nubrik/screen/frame_pipeline.h"

#include <algorithm>
#include <optional>

#include "nubrik/image/memory_helper.h"
#include "nubrik/screen/sprite_drawer.h"

namespace nubrik {

namespace {

using Clock = SharingPolicy::Clock;

std::shared_ptr<Image> makeBandImage(const SpriteDrawer& drawer) {
  const uint32_t pitch = drawer.getWidth() * 4;
  return std::make_shared<Image>(drawer.getWidth(), drawer.getBandHeight(), pitch,
                                 MemoryHelper::allocate(size_t{pitch} * drawer.getBandHeight()));
}

}  // namespace

FramePipeline::FramePipeline(SpriteDrawer& drawer, IDeviceContext* hdc, uint32_t composers,
                             bool steersWorkers)
    : drawer_(drawer),
      hdc_(hdc),
      bands_(drawer, hdc),
      bandImage_(makeBandImage(drawer)),
      pool_(gate_, std::max(composers, 1u) - 1, drawer.getWidth(), drawer.getBandHeight(),
            steersWorkers,
            [this](WorkerPool::Worker& worker) { bands_.composeRuns(*worker.bandImage, [] {}); }) {}

bool FramePipeline::composeFrame() {
  if (!drawer_.isDirty()) return false;
  const Clock::time_point opened = Clock::now();
  policy_.frameOpened(opened);
  // Workers that took part in the last frame are woken while this one is
  // prepared, and spin until it opens.
  if (policy_.lastFrameShared()) pool_.expectFrame();
  struct Expected {
    WorkerPool& pool;
    ~Expected() { pool.stopExpecting(); }
  } expected{pool_};
  drawer_.prepareFrame();

  const size_t bandCount = drawer_.getDirtyBands().size();
  if (bandCount == 0) {
    // Changes that draw as before: nothing to compose.
    drawer_.finishFrame();
    return false;
  }
  bandFailure_ = nullptr;
  const bool lending = bands_.deviceLendsRows();
  const SharingPolicy::Plan plan = policy_.planFrame(bandCount, pool_.size() > 0, lending);
  bands_.beginFrame(lending, plan.streamed, plan.shared ? pool_.size() + 1 : 1);
  if (!plan.shared) pool_.stopExpecting();
  const Clock::time_point start = Clock::now();
  if (plan.shared) {
    composeShared();
  } else {
    bands_.composeRuns(*bandImage_, [] {});
  }
  const Clock::time_point end = Clock::now();
  if (plan.shared) {
    const std::optional<Clock::time_point> joined = pool_.firstJoin();
    policy_.recordSharedFrame(
        plan, bandCount, start - opened, end - start,
        joined ? std::optional<SharingPolicy::Nanoseconds>(*joined - start) : std::nullopt);
    pool_.publishWakeWindow(policy_.wakeWindowAfter(end, end - start), gate_.generation());
  } else {
    policy_.recordAloneFrame(plan, bandCount, end - opened);
  }

  // Every band is presented: the window may send what it held back.
  if (hdc_ != nullptr) {
    try {
      hdc_->endFrame();
    } catch (...) {
      // Like a failed presentation: the window shows this frame late or not.
    }
  }
  drawer_.finishFrame(bands_.sortFailedBands());
  bandFailure_ = bands_.takeFirstFailure();
  policy_.frameEnded(Clock::now());
  return true;
}

void FramePipeline::composeShared() {
  // What prepareFrame wrote is published to every worker that joins.
  pool_.frameOpening(Clock::now());
  gate_.open();
  bands_.composeRuns(*bandImage_, [this] {
    if (pool_.watchesLateWorkers()) pool_.steerLateWorkers(Clock::now());
  });
  gate_.closeWhenEmpty();
}

}  // namespace nubrik
