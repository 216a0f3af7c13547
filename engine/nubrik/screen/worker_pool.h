// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "nubrik/base/platform/platform.h"
#include "nubrik/base/thread.h"
#include "nubrik/image/image.h"
#include "nubrik/screen/frame_gate.h"
#include "nubrik/screen/sharing_policy.h"

namespace nubrik {

// The workers of a frame pipeline: threads of their own, living as long as
// the pool, that join the frames a FrameGate opens and do the pipeline's
// work in each; how they wait between frames, and where they run.
//
// Between frames a worker spins a little, and spins on while a frame that
// will wake it is being prepared. Otherwise, once the frame thread has said
// when the next frame is due (the wake window of the last shared frame), it
// sleeps until the window opens, waits awake inside it, and after it sleeps
// until woken.
//
// Placement, when the pool steers: the system may queue a woken worker
// behind the frame thread on its processor while another processor idles.
// A worker that has not joined a shared frame soon after it opened is moved
// off the frame thread's processor, and so is one waiting awake on it; it
// is let back onto every processor it had once no frame is expected soon.
// Without steering, no worker's processors are ever changed.
class WorkerPool {
 public:
  using Clock = SharingPolicy::Clock;
  using Time = SharingPolicy::Time;

  // The most workers a pool starts.
  static constexpr uint32_t kMaxWorkers = 1023;

  // What one worker owns, on cache lines of its own.
  struct alignas(64) Worker {
    std::shared_ptr<Image> bandImage;
    // When it joined the current frame (ns on Clock); 0 until it does.
    std::atomic<int64_t> joinedAt{0};
    // Its processors, kept as it starts (null when it is not steered), and
    // whether it was moved off the frame thread's.
    std::atomic<platform::ProcessorSteerObject*> steer{nullptr};
    std::atomic<bool> steered{false};
  };
  using Work = std::function<void(Worker&)>;

  // Starts up to `count` workers (at most kMaxWorkers), each with a band
  // image of `width` x `rows` pixels, doing `work` in every frame it joins.
  // A worker the platform cannot start is left out. Throws std::bad_alloc
  // and the exceptions of starting threads.
  WorkerPool(FrameGate& gate, uint32_t count, uint32_t width, uint32_t rows, bool steering,
             Work work);
  // Stops and joins every worker.
  ~WorkerPool();

  uint32_t size() const { return static_cast<uint32_t>(workers_.size()); }

  // Frame thread: while a frame that will wake the workers is being
  // prepared, they wait spinning; expectFrame wakes the sleepers.
  void expectFrame();
  void stopExpecting() { expecting_.store(false, std::memory_order_relaxed); }
  // Frame thread, as a shared frame opens at `now`: nobody has joined it.
  void frameOpening(Time now);
  // Frame thread, inside a shared frame: whether workers that join late are
  // still looked for; steerLateWorkers moves those that have not joined a
  // frame open this long off the frame thread's processor, once per frame.
  bool watchesLateWorkers() const { return watchingLate_; }
  void steerLateWorkers(Time now);
  // When the first worker joined the current frame; none when nobody did.
  std::optional<Time> firstJoin() const;
  // Frame thread, after shared frame `generation`: when its workers wait
  // awake for the next one.
  void publishWakeWindow(const SharingPolicy::WakeWindow& window, uint32_t generation);

 private:
  void run(Worker& worker);
  // Returns the gate's state once it leaves generation `seen` (or stops).
  uint32_t waitForFrame(Worker& worker, uint32_t seen);
  // One step of waiting by the wake window.
  void waitByWakeWindow(Worker& worker, uint32_t state, int spins);
  void moveOffFrameProcessor(Worker& worker);
  void stop() noexcept;

  FrameGate& gate_;
  const bool steering_;
  const Work work_;
  // The frame thread's: when the shared frame opened, and whether late
  // workers are still looked for in it.
  Time openedAt_{};
  bool watchingLate_ = false;
  // What the workers read between frames.
  alignas(64) std::atomic<bool> expecting_{false};
  // The wake window for the frame after shared frame dueFor_ (ns on Clock),
  // and the processor the frame thread ended that frame on.
  std::atomic<int64_t> awakeFrom_{0};
  std::atomic<int64_t> awakeUntil_{0};
  std::atomic<uint32_t> dueFor_{0};
  std::atomic<int> frameProcessor_{-1};
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::unique_ptr<Thread>> threads_;
};

}  // namespace nubrik
