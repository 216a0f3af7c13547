// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace nubrik {

// Decides, frame by frame, whether the frame thread composes alone or wakes
// its workers, and whether a shared frame streams wide bands into lent rows;
// and, after a shared frame, when the workers wait awake for the next. It
// decides from what it is told (the frames' sizes, what they took, when they
// opened and ended) and reads no clock, so that what it decides depends on
// nothing else.
//
// Each way is measured once before the estimates choose. An estimate is what
// a band costs one way, its share of the frame's preparation included: the
// median of the last few frames, so that one frame the host delayed moves
// nothing. Shared, the frame thread composes alone until the first worker
// joins, then every thread goes at the shared rate; a frame is shared when
// that comes to clearly less than composing it alone, since where the two
// are within the noise one thread does the work for less.
//
// Now and then a trial composes two frames the way the estimates advise
// against, and the second (the first finds the caches filled for the other
// way) replaces that way's estimate: the choice follows the machine as it is
// now. A trial that leaves the advice as it was comes less and less often;
// one whose way's estimate comes from frames of another size comes at once.
// Streaming is tried the same way among shared frames.
class SharingPolicy {
 public:
  using Clock = std::chrono::steady_clock;
  using Time = Clock::time_point;
  using Nanoseconds = std::chrono::nanoseconds;

  // Whether frames wake the workers: as measured (the default), or always
  // (to try or to measure a shared way on its own), composing in place or
  // streaming wide bands into lent rows.
  enum class Sharing { Measured, Always, AlwaysStreamed };

  // One frame in this many, at first, is a trial; while trials confirm the
  // advice, one in up to kMaxTrialInterval.
  static constexpr uint32_t kTrialInterval = 32;
  static constexpr uint32_t kMaxTrialInterval = 512;

  // How one frame is composed, and what its measure is good for.
  struct Plan {
    bool shared = false;    // the workers are woken
    bool streamed = false;  // wide bands are streamed into lent rows
    bool measured = true;   // its measure goes into the estimates
    bool fresh = false;     // and replaces what they held (a trial's)
    bool followsShared = false;
  };

  // When the workers of a shared frame wait awake for the next one.
  struct WakeWindow {
    Time from{};
    Time until{};  // the clock's epoch when no frame is expected soon
    enum class Phase { Early, Due, Over };
    Phase phaseAt(Time now) const {
      return now >= until ? Phase::Over : now < from ? Phase::Early : Phase::Due;
    }
  };

  void setSharing(Sharing sharing) { sharing_ = sharing; }
  // A frame opened; the gap since the last one ended says when the next is due.
  void frameOpened(Time now) {
    if (lastEnd_) gap_ = now - *lastEnd_;
  }
  void frameEnded(Time now) { lastEnd_ = now; }
  bool lastFrameShared() const { return lastShared_; }

  // Decides how a frame of `bands` bands is composed, and moves the trials
  // on by a frame.
  Plan planFrame(size_t bands, bool hasWorkers, bool lending);
  // Takes a frame composed alone into the estimates: `took` from its
  // opening, preparation included, to the end of its composition.
  void recordAloneFrame(const Plan& plan, size_t bands, Nanoseconds took);
  // Takes a shared frame into the estimates: how long its preparation and
  // its composition took, and how soon after its composition began the
  // first worker joined (none: it took at least the whole composition).
  void recordSharedFrame(const Plan& plan, size_t bands, Nanoseconds prepared, Nanoseconds composed,
                         std::optional<Nanoseconds> firstJoin);
  // When the workers wait awake after a shared frame that ended at `now`
  // after composing for `composed`.
  WakeWindow wakeWindowAfter(Time now, Nanoseconds composed) const;

 private:
  // What a band costs one way, in ns, and the size of the frames that said so.
  struct Estimate {
    static constexpr size_t kKept = 3;
    double nsPerBand = 0;
    double bands = 0;
    std::array<double, kKept> recent{};
    size_t count = 0;
    bool isStale(size_t frameBands) const;
    // From this measure alone when it is `fresh`.
    void update(double measured, size_t frameBands, bool fresh);
  };

  bool decideSharing(Plan& plan, size_t bands, bool hasWorkers, bool lending);
  bool decideStreaming(Plan& plan, bool lending);
  // The better of the two shared ways' estimates.
  const Estimate& sharedEstimate(bool lending) const;

  Sharing sharing_ = Sharing::Measured;
  // Alone, shared composing in place, shared streaming wide bands into
  // lent rows, and how long a worker takes to join (per frame).
  Estimate alone_;
  Estimate shared_;
  Estimate streamed_;
  Estimate join_;
  // The sharing trials: frames since the last, its interval, frames left in
  // the current one, what the estimates advised when it began, and whether
  // one has just ended.
  uint32_t framesSinceTrial_ = 0;
  uint32_t trialInterval_ = kTrialInterval;
  uint32_t trialLeft_ = 0;
  bool trialAdvice_ = false;
  bool trialEnded_ = false;
  // Shared frames since the last streaming trial.
  uint32_t sharedSinceTrial_ = 0;
  bool lastShared_ = false;
  Nanoseconds gap_{0};
  std::optional<Time> lastEnd_;
};

}  // namespace nubrik
