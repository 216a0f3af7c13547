#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/base/recursive_lock.h"
#include "nubrik/image/image.h"
#include "nubrik/screen/frame_time.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/image_sprite.h"
#include "nubrik/sprite/text_sprite.h"

namespace nubrik {

class FramePacer;
class Screen;
class SceneGuard;
class SpriteDrawer;
class SpriteManager;
class Thread;
class ThreadNotifier;

// Called once per frame iteration on the frame thread, under the scene lock;
// returning true removes the callback.
using FrameCallback = std::function<bool(Screen&)>;
// The same, told the time of the round and the time since the previous one.
using TimedFrameCallback = std::function<bool(Screen&, const FrameTime&)>;
// Told what a frame callback threw (on the frame thread, under the scene
// lock).
using CallbackErrorHandler = std::function<void(std::exception_ptr)>;

// What the frame thread does when a frame callback throws.
enum class CallbackFailurePolicy {
  // The round of callbacks ends there, the failure is counted and handed to
  // the handler, and the failing callback runs again next round.
  KeepGoing,
  // The same, and then the frame thread ends: takeStoppingFailure() gives
  // the exception, and AppWindow::run() ends by throwing it.
  Stop,
};

// Where the threads that compose a Screen's frames run.
enum class WorkerPlacement {
  // The system places them, and the Screen may move a worker off the frame
  // thread's processor (Linux; elsewhere this is LeftToSystem).
  Steered,
  // The system alone places them: the Screen never changes a thread's
  // processors (for a program that pins its threads, or measures).
  LeftToSystem,
};

// Binds the engine to one window's device context: creates and registers
// sprites, keeps the frame callbacks, and runs the frame thread that composes
// every invalidated frame, with one worker per logical processor by default
// (see setWorkerPlacement for how frames are shared between them).
//
// Threads: the owner's thread builds the Screen, creates sprites, registers
// callbacks, starts and stops the frame thread and calls invalidateAll. The
// frame thread holds the scene lock for each whole iteration; sprites may be
// changed only from frame callbacks, before the frame thread starts, or while
// holding getSceneLock(). A change made otherwise while the frame thread runs
// is refused with std::logic_error.
class Screen {
 public:
  static constexpr uint32_t kMaxWidth = 16384;
  // The largest surface: 2^28 pixels (1 GiB of 32-bit pixels, 16384 x 16384),
  // which bounds the bands, the compositor's index and a full frame's work.
  static constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

  // `hdc` is not owned and must outlive the Screen; null composes without
  // showing anything (for measuring composition alone). Throws
  // std::invalid_argument for a width of 0 or above kMaxWidth, a height of
  // 0, or more than kMaxPixels pixels.
  Screen(IDeviceContext* hdc, uint32_t width, uint32_t height);
  // Stops the frame thread. Destroying a Screen from its own frame thread
  // (dropping its last handle inside a frame callback) or while holding its
  // scene lock is a caller error: it is reported on standard error and the
  // process ends.
  virtual ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  uint32_t getWidth() const { return width_.load(); }
  uint32_t getHeight() const { return height_.load(); }
  // Takes a new surface size, with the constructor's limits (the same
  // std::invalid_argument, leaving the Screen as it was): under the scene
  // lock, the bands are recomputed, the device context is told
  // (IDeviceContext::surfaceResized), and the whole new surface is marked
  // for redrawing; a running frame thread rebuilds its bands' memory before
  // its next frame. Callable from any thread, a frame callback included.
  // Throws std::bad_alloc leaving the size as it was.
  void resize(uint32_t width, uint32_t height);

  // New sprites start hidden, Normal, opacity 255, and are registered. A
  // sprite changed through any setter is redrawn where it was and where it
  // is by the next frame; invalidate() is needed only for what setters do
  // not see (pixels of an image changed in place).
  //
  // The id is the program's, for findSprite; without one the engine picks
  // an id of its own, which findSprite does not look for.
  std::shared_ptr<FillRectSprite> createFillRectSprite(int32_t id, const Rect& rect, int32_t zOrder,
                                                       const Colour& colour);
  std::shared_ptr<FillRectSprite> createFillRectSprite(const Rect& rect, int32_t zOrder,
                                                       const Colour& colour);
  std::shared_ptr<ImageSprite> createImageSprite(int32_t id, int32_t x, int32_t y, int32_t zOrder,
                                                 std::shared_ptr<IImage> image);
  std::shared_ptr<ImageSprite> createImageSprite(int32_t x, int32_t y, int32_t zOrder,
                                                 std::shared_ptr<IImage> image);
  // The text's box starts with its top-left at (x, y); see TextSprite.
  std::shared_ptr<TextSprite> createTextSprite(int32_t id, int32_t x, int32_t y, int32_t zOrder,
                                               std::shared_ptr<Font> font, uint32_t pixelSize,
                                               std::string_view utf8, const Colour& colour);
  std::shared_ptr<TextSprite> createTextSprite(int32_t x, int32_t y, int32_t zOrder,
                                               std::shared_ptr<Font> font, uint32_t pixelSize,
                                               std::string_view utf8, const Colour& colour);

  // The topmost visible sprite that marks surface pixel (x, y): what it
  // draws there is not fully transparent (a fill's colour, an image's or a
  // text's pixel after its transforms and tint, at its opacity); null where
  // none does. Answers for the sprites as they are now, at a cost that
  // follows the sprites near the point, not their number. Takes the scene
  // lock: callable from frame callbacks and from the program's thread.
  std::shared_ptr<ISprite> spriteAt(int32_t x, int32_t y);
  // The first sprite in drawing order made with the program's id `id`;
  // null when there is none. Takes the scene lock, as spriteAt does.
  std::shared_ptr<ISprite> findSprite(int32_t id);
  // Takes a sprite out of the registry (under the scene lock) and, if it was
  // visible, reports its area for redrawing. False when the sprite is not
  // this Screen's. Hiding a sprite is the other way to take it out of the
  // picture.
  bool removeSprite(const std::shared_ptr<ISprite>& sprite);

  // Appends a callback. Callable at any time and from any thread (it takes
  // the scene lock); one added by a running callback joins the list after
  // the current round. Throws std::invalid_argument for an empty callback.
  //
  // Callbacks run once per iteration of the frame thread, after the frame
  // (if anything was invalidated) has been composed and presented, in the
  // order they were added. Unpaced, an iteration ends with a 1-millisecond
  // pause, so they run about a thousand times a second whether or not
  // anything is composed; paced (setFrameInterval), once per tick.
  void addFrameCallback(FrameCallback callback);
  void addFrameCallback(TimedFrameCallback callback);
  void addFrameCallback(std::nullptr_t) { addFrameCallback(FrameCallback()); }
  // What happens to an exception that a frame callback throws: the round
  // ends there (the callbacks after it run next round; the failing one is
  // kept), the failure is counted, and the handler is told. The default
  // handler writes the first failure to standard error, in one line; an
  // empty one only counts. Callable from any thread (it takes the scene
  // lock). A handler that throws is counted once more and otherwise ignored.
  void setCallbackErrorHandler(CallbackErrorHandler handler);
  // Exceptions thrown by frame callbacks (and by the handler) so far.
  uint64_t getCallbackFailureCount() const { return callbackFailures_.load(); }
  // Whether a failing callback stops the frame thread (KeepGoing by
  // default). Callable from any thread.
  void setCallbackFailurePolicy(CallbackFailurePolicy policy) { failurePolicy_ = policy; }
  CallbackFailurePolicy getCallbackFailurePolicy() const { return failurePolicy_.load(); }
  // The failure that ended the frame thread under the Stop policy, once;
  // null when there is none. Callable from any thread.
  std::exception_ptr takeStoppingFailure();
  // Called on the frame thread, holding no lock, when it ends itself after
  // a failure under the Stop policy (AppWindow wakes its loop with it).
  // Set it before the frame thread starts.
  void setStoppedListener(std::function<void()> listener) {
    stoppedListener_ = std::move(listener);
  }

  // Frame pacing: iterations of the frame thread start on ticks `interval`
  // apart, kept against the steady clock without drift; a frame thread with
  // nothing to compose sleeps until the next tick or wakeFrameThread(). Zero
  // (the default) paces nothing: a 1-millisecond pause after each
  // iteration. Callable from any thread, at any time.
  void setFrameInterval(std::chrono::nanoseconds interval);
  std::chrono::nanoseconds getFrameInterval() const;
  // Ends an idle paced frame thread's sleep, so that its callbacks run now
  // (input came). Callable from any thread.
  void wakeFrameThread();
  // (Re)starts the frame thread with a fresh set of workers. Throws
  // Win32Exception, with the system's reason, when the system refuses the
  // thread (too many threads, no memory): the frame thread is then stopped,
  // as isFrameThreadRunning() says.
  void startFrameThread();
  // Stops the frame thread and, before it ends, all its workers. Throws
  // std::logic_error instead of waiting for ever when called from the frame
  // thread itself (a frame callback) or while the caller holds the scene
  // lock, which the frame thread may be waiting for.
  void stopFrameThread();
  // Callable from any thread, a frame callback included: true from
  // startFrameThread until stopFrameThread.
  bool isFrameThreadRunning() const { return frameThreadRunning_.load(); }
  // Marks the whole surface for redrawing in the next frame.
  void invalidateAll();

  RecursiveLock& getSceneLock() { return sceneLock_; }

  // How frames are shared between threads. The frame thread composes each
  // frame alone, or wakes the workers and every thread takes runs of bands
  // from a shared counter. Which of the two is decided per frame from what
  // the last frames measured: how long a band takes alone and shared (the
  // frame's preparation included), and how long a worker takes to join. A
  // frame too small to repay waking the workers, or a machine that gives
  // nothing for a second thread at the moment (other programs busy), is
  // composed alone. Now and then two frames are composed the other way to
  // measure it again (one frame in 32 at first; up to one in 512 while that
  // confirms the choice; at once when the frames' size changed a lot), so
  // the choice follows the frames and the machine. Where the window lends
  // its memory, a shared frame may instead compose bands changed in wide
  // rectangles in the cache and stream them into the window, chosen and
  // measured again the same way. While shared frames come regularly (at
  // most 100 ms apart), the workers sleep until shortly before the next is
  // due and wait for it awake; otherwise they sleep until woken.
  //
  // Where the workers run: WorkerPlacement::Steered (the default) lets the
  // Screen, on Linux, move a worker off the frame thread's processor
  // (sched_setaffinity, from the frame thread or the worker itself) when
  // the worker has not joined a frame 0.1 ms after it opened, or waits
  // awake on that processor: the system may queue a woken thread behind the
  // thread that woke it while another processor idles. Only the frame
  // thread's processor is ever taken out of the worker's set, and the
  // worker gets back the set it started with (the frame thread's, which it
  // inherits from the thread that called startFrameThread) once no frame is
  // expected soon. The frame thread itself is never moved.
  // WorkerPlacement::LeftToSystem changes no thread's processors. Callable
  // from any thread; a running frame thread takes the placement at its
  // next startFrameThread.
  void setWorkerPlacement(WorkerPlacement placement) { workerPlacement_ = placement; }
  WorkerPlacement getWorkerPlacement() const { return workerPlacement_.load(); }

  // The most threads that compose a frame: 4 per logical processor, and
  // never more than kMaxWorkerCount. More only wait for each other.
  static constexpr uint32_t kMaxWorkerCount = 64;
  static uint32_t maxWorkerCount();
  // How many threads compose each frame: the frame thread and count - 1
  // workers, so 0 and 1 both mean the frame thread alone; nullopt means one
  // per logical processor (the default). A count above maxWorkerCount() is
  // clamped to it. Callable from any thread; a running frame thread takes
  // the count at its next startFrameThread.
  void setWorkerCount(std::optional<uint32_t> count);
  // The count the next startFrameThread uses.
  uint32_t getWorkerCount() const;

  // Frames composed since construction: passes in which something changed
  // on the surface. Read from a frame callback for consistent values.
  uint64_t getComposedFrameCount() const { return composedFrames_.load(); }
  // Passes of the frame thread since construction, whether or not they
  // composed a frame: each runs the frame callbacks once.
  uint64_t getPassCount() const { return passes_.load(); }
  // Frames that failed: their preparation threw (nothing was drawn; the
  // frame is tried again), or bands whose composition threw (every other
  // band was drawn; those stay marked and are tried again). While nothing
  // changes (no sprite reports a change, no invalidateAll or resize), each
  // try after a failed band waits twice as long as the one before, from
  // 1 ms up to kMaxRetryDelay, so that a band that fails every time costs
  // next to nothing.
  uint64_t getFailedFrameCount() const { return failedFrames_.load(); }
  static constexpr std::chrono::milliseconds kMaxRetryDelay{1000};
  // How long the last frame took to compose and present.
  std::chrono::nanoseconds getLastFrameDuration() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double, std::milli>(lastFrameMilliseconds_.load()));
  }
  // The same in milliseconds, for older callers.
  double getLastFrameMilliseconds() const { return lastFrameMilliseconds_.load(); }

 private:
  // The engine's own way in, for its tests and benchmarks (screen_internals.h).
  friend class ScreenInternals;

  // The frame thread's body: composes every invalidated frame, runs the
  // callbacks and pauses, until interrupted.
  void runFrames(ThreadNotifier& notifier, uint32_t composers, WorkerPlacement placement);
  // Returns what the failing callback threw, or null.
  std::exception_ptr runFrameCallbacks();
  void endCallbackRound(const std::vector<bool>& finished);
  void reportCallbackFailure(std::exception_ptr failure) noexcept;

  IDeviceContext* hdc_;
  std::atomic<uint32_t> width_;
  std::atomic<uint32_t> height_;
  // Counts resizes, under the scene lock: the frame thread rebuilds its
  // pipeline when it sees a new value.
  uint64_t sizeGeneration_ = 0;
  // Whether invalidateAll or resize marked the surface since the last frame
  // (under the scene lock): failed bands are tried again at once.
  bool invalidatedSinceFrame_ = false;
  // Holds the scene lock; shared with the registry and the compositor.
  std::shared_ptr<SceneGuard> sceneGuard_;
  RecursiveLock& sceneLock_;
  std::shared_ptr<SpriteManager> spriteManager_;
  std::shared_ptr<SpriteDrawer> spriteDrawer_;
  std::vector<TimedFrameCallback> frameCallbacks_;
  // Callbacks added while a round of callbacks runs, appended after it.
  std::vector<TimedFrameCallback> addedCallbacks_;
  bool runningCallbacks_ = false;
  // Called on a handle of its own, so that a handler may replace itself.
  std::shared_ptr<const CallbackErrorHandler> callbackErrorHandler_;
  bool reportedCallbackFailure_ = false;
  std::atomic<uint64_t> callbackFailures_{0};
  std::unique_ptr<FramePacer> pacer_;
  // Declared last, so that the frame thread is stopped before anything it
  // uses goes.
  std::unique_ptr<Thread> frameThread_;

  // kDefaultWorkers: one per logical processor.
  static constexpr uint32_t kDefaultWorkers = UINT32_MAX;
  std::atomic<uint32_t> workerCount_{kDefaultWorkers};
  std::atomic<WorkerPlacement> workerPlacement_{WorkerPlacement::Steered};
  std::atomic<bool> frameThreadRunning_{false};
  std::atomic<CallbackFailurePolicy> failurePolicy_{CallbackFailurePolicy::KeepGoing};
  // Under the scene lock.
  std::exception_ptr stoppingFailure_;
  std::function<void()> stoppedListener_;
  // The next id the engine picks, for sprites made without one.
  std::atomic<int32_t> nextOwnId_{INT32_MIN};
  std::atomic<uint64_t> passes_{0};
  std::atomic<uint64_t> composedFrames_{0};
  std::atomic<uint64_t> failedFrames_{0};
  std::atomic<double> lastFrameMilliseconds_{0};
};

}  // namespace nubrik
