#include "nubrik/screen/frame_loop.h"

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "nubrik/base/event.h"
#include "nubrik/base/exception.h"
#include "nubrik/base/thread.h"
#include "nubrik/image/memory_helper.h"
#include "nubrik/screen/screen.h"

namespace nubrik {

namespace {

struct Worker {
  std::shared_ptr<Thread> thread;
  std::shared_ptr<Event> startEvent;
  std::shared_ptr<Event> doneEvent;
};

// What a worker's body holds for the life of its thread.
struct WorkerContext {
  Screen* screen;
  std::shared_ptr<Event> startEvent;
  std::shared_ptr<Event> doneEvent;
  std::shared_ptr<Image> bandImage;
};

// Opens a frame with prepareFrame and closes it with finishFrame, also when
// an exception leaves the frame. A failed prepareFrame opens nothing.
class FrameScope {
 public:
  explicit FrameScope(SpriteDrawer& drawer) : drawer_(drawer) { drawer_.prepareFrame(); }
  ~FrameScope() { drawer_.finishFrame(); }
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;

 private:
  SpriteDrawer& drawer_;
};

// Interrupts every worker before joining the first, so that all wind down at
// once; runs on every way out of the frame loop.
class WorkerShutdown {
 public:
  explicit WorkerShutdown(std::vector<Worker>& workers) : workers_(workers) {}
  ~WorkerShutdown() {
    for (Worker& worker : workers_) {
      try {
        worker.thread->interrupt();
      } catch (...) {
        // Joined below all the same.
      }
    }
    for (Worker& worker : workers_) worker.thread->join();
  }

 private:
  std::vector<Worker>& workers_;
};

std::shared_ptr<Image> makeBandImage(const SpriteDrawer& drawer) {
  const uint32_t pitch = drawer.getWidth() * 4;
  return std::make_shared<Image>(drawer.getWidth(), drawer.getBandHeight(), pitch,
                                 MemoryHelper::allocate(size_t{pitch} * drawer.getBandHeight()));
}

void workerLoop(WorkerContext& context, ThreadNotifier& notifier) {
  while (notifier.wait(*context.startEvent)) {
    context.startEvent->reset();
    try {
      composeBands(*context.screen, *context.bandImage);
    } catch (...) {
      // This worker takes no further band this frame; the others go on, and
      // the frame thread still hears that this one is done.
    }
    context.doneEvent->set();
  }
}

// Runs every callback once, in order, and takes out those that returned
// true. A throwing callback ends the round; the list still keeps every
// callback that has not returned true, once, in order.
void runFrameCallbacks(std::vector<FrameCallback>& callbacks, Screen& screen) {
  // By index and up to the size at the start: a callback may add callbacks.
  const size_t count = callbacks.size();
  std::vector<bool> finished(count, false);
  auto removeFinished = [&] {
    size_t kept = 0;
    for (size_t i = 0; i < callbacks.size(); ++i) {
      if (i < count && finished[i]) continue;
      if (kept != i) callbacks[kept] = std::move(callbacks[i]);
      ++kept;
    }
    callbacks.resize(kept);
  };
  try {
    for (size_t i = 0; i < count; ++i) finished[i] = callbacks[i](screen);
  } catch (...) {
    removeFinished();
    throw;
  }
  removeFinished();
}

}  // namespace

void composeBands(Screen& screen, Image& bandImage) {
  const std::shared_ptr<SpriteDrawer> drawer = screen.bandDrawer_;
  const uint32_t bands = drawer->getBandCount();
  const uint32_t bandHeight = drawer->getBandHeight();
  while (true) {
    uint32_t band;
    {
      std::lock_guard lock(screen.presentLock_);
      band = screen.nextBand_++;
    }
    if (band >= bands) return;
    const Rect region = drawer->getBandRegion(band);
    if (region.isEmpty()) continue;
    drawer->drawBand(band, bandImage);
    std::lock_guard lock(screen.presentLock_);
    presentBand(bandImage, region, screen.hdc_, static_cast<int32_t>(band * bandHeight));
  }
}

void frameLoop(Screen& screen, ThreadNotifier& notifier) {
  const uint32_t wanted = screen.workerCount_.value_or(platform::logicalProcessorCount());
  std::vector<Worker> workers;
  workers.reserve(wanted);
  WorkerShutdown shutdown(workers);
  for (uint32_t i = 0; i < wanted; ++i) {
    Worker worker{std::make_shared<Thread>(), std::make_shared<Event>(), std::make_shared<Event>()};
    auto context = std::make_shared<WorkerContext>(WorkerContext{
        &screen, worker.startEvent, worker.doneEvent, makeBandImage(*screen.spriteDrawer_)});
    worker.thread->start(
        [context](ThreadNotifier& workerNotifier) { workerLoop(*context, workerNotifier); });
    // Only workers that run are waited for.
    if (worker.thread->isRunning()) workers.push_back(std::move(worker));
  }
  // Without a single worker, the frame thread composes the bands itself.
  const std::shared_ptr<Image> ownBand =
      workers.empty() ? makeBandImage(*screen.spriteDrawer_) : nullptr;

  while (!notifier.isInterrupted()) {
    try {
      std::lock_guard lock(screen.sceneLock_);
      if (screen.spriteDrawer_->isDirty()) {
        const auto start = std::chrono::steady_clock::now();
        screen.bandDrawer_ = screen.spriteDrawer_;
        screen.nextBand_ = 0;
        FrameScope frame(*screen.spriteDrawer_);
        if (workers.empty()) {
          composeBands(screen, *ownBand);
        } else {
          for (Worker& worker : workers) worker.startEvent->set();
          for (Worker& worker : workers) {
            worker.doneEvent->wait();
            worker.doneEvent->reset();
          }
        }
        screen.lastFrameMilliseconds_ =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        ++screen.composedFrames_;
      }
      runFrameCallbacks(screen.frameCallbacks_, screen);
    } catch (...) {
      // Dropped: the frame loop carries on with the next iteration.
    }
    try {
      notifier.sleep();
    } catch (const InterruptedException&) {
      break;
    }
  }
}

}  // namespace nubrik
