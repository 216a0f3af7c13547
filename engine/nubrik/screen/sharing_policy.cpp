#include "nubrik/screen/sharing_policy.h"

#include <algorithm>

namespace nubrik {

namespace {

using Nanoseconds = SharingPolicy::Nanoseconds;

// A shared frame must come to at most this much of one composed alone.
constexpr double kLeastGain = 0.95;
// A worker woken by another thread may wait behind that thread on its
// processor for a scheduler tick or more while another processor idles,
// worst where the processors are virtual and an idle one is halted; a
// worker woken by its own timer runs on its own processor at once. So
// between shared frames that come regularly (at most kMaxExpectedGap apart)
// a worker sleeps until a little before the next frame is due and waits
// awake until as long after. That little is a quarter of the last shared
// frame's composition, within bounds, so that the time spent awake stays
// well under what the worker saves; waiting awake through the whole gap
// would take a processor from everything else.
constexpr Nanoseconds kMinWakeLead{20'000};
constexpr Nanoseconds kMaxWakeLead{250'000};
constexpr Nanoseconds kMaxExpectedGap{100'000'000};

double toDouble(Nanoseconds ns) { return static_cast<double>(ns.count()); }

}  // namespace

bool SharingPolicy::Estimate::isStale(size_t frameBands) const {
  // Measured on frames of another size: a band of a full frame costs
  // nothing like a band of a frame where little changed.
  const auto b = static_cast<double>(frameBands);
  return b > 2 * bands || 2 * b < bands;
}

void SharingPolicy::Estimate::update(double measured, size_t frameBands, bool fresh) {
  if (fresh || count == 0 || isStale(frameBands)) count = 0;
  recent[count++ % recent.size()] = measured;
  std::array<double, kKept> sorted = recent;
  const size_t kept = std::min<size_t>(count, sorted.size());
  std::nth_element(sorted.begin(), sorted.begin() + kept / 2, sorted.begin() + kept);
  nsPerBand = sorted[kept / 2];
  bands = count == 1 ? static_cast<double>(frameBands) : (bands + frameBands) / 2;
}

SharingPolicy::Plan SharingPolicy::planFrame(size_t bands, bool hasWorkers, bool lending) {
  Plan plan;
  plan.followsShared = lastShared_;
  plan.shared = decideSharing(plan, bands, hasWorkers, lending);
  plan.streamed = plan.shared && decideStreaming(plan, lending);
  lastShared_ = plan.shared;
  return plan;
}

const SharingPolicy::Estimate& SharingPolicy::sharedEstimate(bool lending) const {
  return lending && streamed_.nsPerBand != 0 && streamed_.nsPerBand < shared_.nsPerBand ? streamed_
                                                                                        : shared_;
}

bool SharingPolicy::decideSharing(Plan& plan, size_t bands, bool hasWorkers, bool lending) {
  if (!hasWorkers || bands < 2) return false;
  if (sharing_ != Sharing::Measured) return true;
  const Estimate& shared = sharedEstimate(lending);
  if (alone_.nsPerBand == 0) return false;
  if (shared.nsPerBand == 0) return true;
  // Too small a frame to repay waking a worker, or a worker that pays too
  // little to be told from the noise of the measures: composed alone.
  const auto b = static_cast<double>(bands);
  const double aloneNs = b * alone_.nsPerBand;
  const double sharedNs =
      join_.nsPerBand + std::max(0.0, b - join_.nsPerBand / alone_.nsPerBand) * shared.nsPerBand;
  const bool advised = sharedNs < kLeastGain * aloneNs;
  if (trialLeft_ == 0) {
    if (trialEnded_) {
      trialEnded_ = false;
      trialInterval_ = advised == trialAdvice_ ? std::min(2 * trialInterval_, kMaxTrialInterval)
                                               : kTrialInterval;
    }
    if (++framesSinceTrial_ >= trialInterval_ || (advised ? alone_ : shared).isStale(bands)) {
      framesSinceTrial_ = 0;
      trialLeft_ = 2;
      trialAdvice_ = advised;
    }
  }
  if (trialLeft_ > 0) {
    plan.measured = --trialLeft_ == 0;
    plan.fresh = plan.measured;
    trialEnded_ = plan.measured;
    return !trialAdvice_;
  }
  // The first frame back from a trial finds the caches filled for the other way.
  plan.measured = framesSinceTrial_ > 1;
  return advised;
}

bool SharingPolicy::decideStreaming(Plan& plan, bool lending) {
  if (!lending || sharing_ == Sharing::Always) return false;
  if (sharing_ == Sharing::AlwaysStreamed) return true;
  if (shared_.nsPerBand == 0) return false;
  if (streamed_.nsPerBand == 0) return true;
  const bool advised = streamed_.nsPerBand < shared_.nsPerBand;
  // A trial is two shared frames the other way, the second measured; the
  // first frame back is not.
  if (++sharedSinceTrial_ >= kTrialInterval + 2) sharedSinceTrial_ = 0;
  if (sharedSinceTrial_ >= kTrialInterval) {
    plan.measured = plan.measured && sharedSinceTrial_ == kTrialInterval + 1;
    plan.fresh = plan.measured;
    return !advised;
  }
  plan.measured = plan.measured && sharedSinceTrial_ != 0;
  return advised;
}

void SharingPolicy::recordAloneFrame(const Plan& plan, size_t bands, Nanoseconds took) {
  if (!plan.measured || bands == 0) return;
  alone_.update(toDouble(took) / static_cast<double>(bands), bands, plan.fresh);
}

void SharingPolicy::recordSharedFrame(const Plan& plan, size_t bands, Nanoseconds prepared,
                                      Nanoseconds composed, std::optional<Nanoseconds> firstJoin) {
  const Nanoseconds joined =
      firstJoin ? std::min(composed, std::max(*firstJoin, Nanoseconds{0})) : composed;
  // Joins of frames that follow shared ones, whose workers were awake when
  // they opened: what a run of shared frames pays for each. (The first
  // frame of a run pays more, once.)
  if (plan.followsShared) join_.update(toDouble(joined), bands, plan.fresh);
  if (!plan.measured) return;
  // What a band costs while the threads compose together: the bands the
  // frame thread composed alone before the first join are taken out, so
  // that a late join does not count against sharing itself. Like a frame
  // composed alone, it counts the frame's preparation, which a shared frame
  // before it slows down: the commands it rewrites were read on other
  // processors.
  const auto b = static_cast<double>(bands);
  const bool aloneKnown = alone_.nsPerBand > 0;
  const double before = aloneKnown ? std::min(b, toDouble(joined) / alone_.nsPerBand) : 0;
  // Where nobody shared enough of the frame to tell, what the frame cost
  // per band stands for the rate: else frames of this size would find the
  // estimate from other sizes every time, and be tried shared every time.
  const double together =
      b - before < 2
          ? toDouble(prepared + composed) / b
          : toDouble(prepared + composed - (aloneKnown ? joined : Nanoseconds{0})) / (b - before);
  (plan.streamed ? streamed_ : shared_).update(together, bands, plan.fresh);
}

SharingPolicy::WakeWindow SharingPolicy::wakeWindowAfter(Time now, Nanoseconds composed) const {
  // When the next frame is due, were it to come after the same gap.
  const bool regular = gap_ > Nanoseconds{0} && gap_ <= kMaxExpectedGap;
  const Nanoseconds lead = std::clamp(composed / 4, kMinWakeLead, kMaxWakeLead);
  return {now + gap_ - lead, regular ? now + gap_ + lead : Time{}};
}

}  // namespace nubrik
