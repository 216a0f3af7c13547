#include "nubrik/screen/worker_pool.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "nubrik/image/memory_helper.h"

namespace nubrik {

namespace {

using Time = WorkerPool::Time;
using WakeWindow = SharingPolicy::WakeWindow;

// How long a worker spins between frames before it looks at the wake window.
constexpr int kIdleSpins = 512;
// How often a worker waiting awake lets anything else runnable on its
// processor go first.
constexpr int kYieldSpins = 256;
// A worker that has not joined a shared frame this long after it opened is
// taken to be queued behind the frame thread. Joins that work take
// microseconds.
constexpr std::chrono::nanoseconds kSteerAfter{100'000};

int64_t ticksOf(Time time) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

Time timeOf(int64_t ticks) {
  return Time(std::chrono::duration_cast<Time::duration>(std::chrono::nanoseconds(ticks)));
}

}  // namespace

WorkerPool::WorkerPool(FrameGate& gate, uint32_t count, uint32_t width, uint32_t rows,
                       bool steering, Work work)
    : gate_(gate), steering_(steering), work_(std::move(work)) {
  const uint32_t wanted = std::min(count, kMaxWorkers);
  workers_.reserve(wanted);
  threads_.reserve(wanted);
  try {
    for (uint32_t i = 0; i < wanted; ++i) {
      auto worker = std::make_unique<Worker>();
      worker->bandImage = std::make_shared<Image>(width, rows, width * 4,
                                                  MemoryHelper::allocate(size_t{width} * 4 * rows));
      auto thread = std::make_unique<Thread>();
      thread->start([this, w = worker.get()](ThreadNotifier&) { run(*w); });
      // Only workers that run count; the others are simply not there.
      if (thread->isRunning()) {
        workers_.push_back(std::move(worker));
        threads_.push_back(std::move(thread));
      }
    }
  } catch (...) {
    stop();
    throw;
  }
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::stop() noexcept {
  gate_.stop();
  for (auto& thread : threads_) thread->join();
  threads_.clear();
}

void WorkerPool::expectFrame() {
  expecting_.store(true, std::memory_order_relaxed);
  gate_.wakeSleepers();
}

void WorkerPool::frameOpening(Time now) {
  for (const auto& worker : workers_) worker->joinedAt.store(0, std::memory_order_relaxed);
  openedAt_ = now;
  watchingLate_ = steering_;
}

void WorkerPool::steerLateWorkers(Time now) {
  if (now - openedAt_ < kSteerAfter) return;
  watchingLate_ = false;
  for (const auto& worker : workers_) {
    platform::ProcessorSteerObject* steer = worker->steer.load(std::memory_order_acquire);
    if (worker->joinedAt.load(std::memory_order_relaxed) == 0 && steer != nullptr &&
        platform::steerOffCallersProcessor(steer)) {
      worker->steered.store(true, std::memory_order_release);
    }
  }
}

std::optional<Time> WorkerPool::firstJoin() const {
  std::optional<Time> first;
  for (const auto& worker : workers_) {
    const int64_t at = worker->joinedAt.load(std::memory_order_relaxed);
    if (at != 0 && (!first || timeOf(at) < *first)) first = timeOf(at);
  }
  return first;
}

void WorkerPool::publishWakeWindow(const WakeWindow& window, uint32_t generation) {
  awakeFrom_.store(ticksOf(window.from), std::memory_order_relaxed);
  awakeUntil_.store(ticksOf(window.until), std::memory_order_relaxed);
  if (steering_) frameProcessor_.store(platform::currentProcessor(), std::memory_order_relaxed);
  dueFor_.store(generation, std::memory_order_release);
}

void WorkerPool::run(Worker& worker) {
  // Released by the worker as it ends, which is only while the pool stops,
  // between frames: the frame thread steers only inside one.
  struct Release {
    Worker& worker;
    ~Release() { platform::releaseProcessorSteer(worker.steer.exchange(nullptr)); }
  } release{worker};
  if (steering_) worker.steer.store(platform::createProcessorSteer(), std::memory_order_release);
  // Every worker starts before the first frame opens a new generation; one
  // that runs late still takes part from its first look on.
  uint32_t seen = 0;
  while (true) {
    const uint32_t state = waitForFrame(worker, seen);
    if (gate_.isStopping()) return;
    seen = FrameGate::generationOf(state);
    if (!gate_.tryJoin(state)) continue;
    worker.joinedAt.store(ticksOf(Clock::now()), std::memory_order_relaxed);
    work_(worker);
    gate_.leave();
  }
}

uint32_t WorkerPool::waitForFrame(Worker& worker, uint32_t seen) {
  uint32_t state = gate_.state();
  for (int spins = 0; FrameGate::generationOf(state) == seen && !gate_.isStopping(); ++spins) {
    if (spins < kIdleSpins || expecting_.load(std::memory_order_relaxed)) {
      // A frame on its way is waited for spinning: waking from sleep may
      // take longer than the frame.
      relaxSpin();
    } else if (dueFor_.load(std::memory_order_acquire) != seen) {
      // The frame thread is about to say when the next frame is due.
      std::this_thread::yield();
    } else {
      waitByWakeWindow(worker, state, spins);
    }
    state = gate_.state();
  }
  return state;
}

void WorkerPool::waitByWakeWindow(Worker& worker, uint32_t state, int spins) {
  const WakeWindow window{timeOf(awakeFrom_.load(std::memory_order_relaxed)),
                          timeOf(awakeUntil_.load(std::memory_order_relaxed))};
  const Time now = Clock::now();
  switch (window.phaseAt(now)) {
    case WakeWindow::Phase::Early:
      gate_.sleepWhile(state, window.from - now);
      break;
    case WakeWindow::Phase::Due:
      if (spins % kYieldSpins == 0) {
        moveOffFrameProcessor(worker);
        std::this_thread::yield();
      } else {
        relaxSpin();
      }
      break;
    case WakeWindow::Phase::Over:
      // No frame soon: nothing to keep it off any processor for.
      if (worker.steered.exchange(false, std::memory_order_acquire)) {
        platform::restoreProcessors(worker.steer.load(std::memory_order_relaxed));
      }
      gate_.sleepWhile(state);
      break;
  }
}

void WorkerPool::moveOffFrameProcessor(Worker& worker) {
  // Awake on the frame thread's processor, it would only delay the frame
  // and join after it.
  if (!steering_) return;
  const int processor = platform::currentProcessor();
  if (processor >= 0 && processor == frameProcessor_.load(std::memory_order_relaxed) &&
      platform::steerOffCallersProcessor(worker.steer.load(std::memory_order_relaxed))) {
    worker.steered.store(true, std::memory_order_relaxed);
  }
}

}  // namespace nubrik
