#include "nubrik/screen/sharing_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace nubrik {
namespace {

using namespace std::chrono_literals;
using Sharing = SharingPolicy::Sharing;
using Time = SharingPolicy::Time;
using Nanoseconds = SharingPolicy::Nanoseconds;

// What the scripted machine charges, in ns: a band alone, a band while every
// thread composes together (in place, or streaming wide bands), and the
// wait until the first worker joins a shared frame.
struct Machine {
  double alone = 1000;
  double shared = 400;
  double streamed = 400;
  double join = 2000;
};

// Frames composed with a fake clock: each frame costs what the machine says,
// and frames come 16 ms apart. Returns one letter per frame: A alone, S
// shared in place, T shared and streamed.
std::string compose(SharingPolicy& policy, Time& now, const Machine& machine, size_t bands,
                    int frames, bool lending, bool workers) {
  std::string letters;
  for (int i = 0; i < frames; ++i) {
    const Time opened = now;
    policy.frameOpened(opened);
    const SharingPolicy::Plan plan = policy.planFrame(bands, workers, lending);
    const auto b = static_cast<double>(bands);
    if (!plan.shared) {
      now += Nanoseconds(static_cast<int64_t>(b * machine.alone));
      policy.recordAloneFrame(plan, bands, now - opened);
      letters += 'A';
    } else {
      // The frame thread composes alone until the first worker joins.
      const double rate = plan.streamed ? machine.streamed : machine.shared;
      const double before = machine.join / machine.alone;
      const bool joins = b > before;
      const double ns = joins ? machine.join + (b - before) * rate : b * machine.alone;
      const Nanoseconds composed(static_cast<int64_t>(ns));
      policy.recordSharedFrame(
          plan, bands, 0ns, composed,
          joins ? std::optional(Nanoseconds(int64_t(machine.join))) : std::nullopt);
      now += composed;
      letters += plan.streamed ? 'T' : 'S';
    }
    policy.frameEnded(now);
    now += 16ms;
  }
  return letters;
}

// Where runs of `way` start.
std::vector<size_t> runStarts(const std::string& frames, char way) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (frames[i] == way && (i == 0 || frames[i - 1] != way)) starts.push_back(i);
  }
  return starts;
}
// Whether every run of `way` is two frames long (a trial); a run that the
// phase cuts at either end may be shorter.
bool onlyInTrials(const std::string& frames, char way) {
  for (size_t start : runStarts(frames, way)) {
    size_t end = start;
    while (end < frames.size() && frames[end] == way) ++end;
    const bool cut = start == 0 || end == frames.size();
    if (cut ? end - start > 2 : end - start != 2) return false;
  }
  return true;
}
// The shared frames alone: streaming is tried among them.
std::string sharedOnly(std::string frames) {
  frames.erase(std::remove(frames.begin(), frames.end(), 'A'), frames.end());
  return frames;
}
double share(const std::string& frames, char way) {
  return static_cast<double>(std::count(frames.begin(), frames.end(), way)) /
         static_cast<double>(frames.size());
}

// One policy through every phase of a program's life: the machine changes
// under it, frames change size, the window lends its rows or not, sharing
// is forced. Each phase says what the frames must look like.
TEST(SharingPolicyTest, FollowsTheMachineThroughEveryPhase) {
  const Machine pays;  // a second thread more than halves a band's cost
  const Machine busy{1000, 1100, 1100, 2000};
  const Machine streams{1000, 400, 300, 2000};
  const Machine streamsSlowly{1000, 400, 500, 2000};
  struct Phase {
    const char* what;
    Machine machine;
    size_t bands;
    int frames;
    void (*check)(const std::string& frames);
    bool lending = false;
    Sharing sharing = Sharing::Measured;
    bool workers = true;
  };
  const Phase phases[] = {
      {"each way is measured once before the estimates choose", pays, 64, 2,
       [](const std::string& f) { EXPECT_EQ(f, "AS"); }},
      {"while sharing pays, frames are shared, with trials alone ever more rarely", pays, 64, 2000,
       [](const std::string& f) {
         EXPECT_TRUE(onlyInTrials(f, 'A'));
         const std::vector<size_t> trials = runStarts(f, 'A');
         ASSERT_GE(trials.size(), 5u);
         EXPECT_LE(trials[0], SharingPolicy::kTrialInterval + 1);
         for (size_t i = 2; i < trials.size(); ++i) {
           EXPECT_GE(trials[i] - trials[i - 1], trials[i - 1] - trials[i - 2]);
         }
         EXPECT_GE(trials.back() - trials[trials.size() - 2], SharingPolicy::kMaxTrialInterval);
         EXPECT_LE(trials.back() - trials[trials.size() - 2], SharingPolicy::kMaxTrialInterval + 2);
       }},
      {"a machine that gives nothing for a second thread: alone within a few frames", busy, 64, 600,
       [](const std::string& f) {
         EXPECT_TRUE(onlyInTrials(f.substr(4), 'S'));
         EXPECT_GE(share(f, 'A'), 0.95);
       }},
      {"once sharing pays again, the next trial finds it", pays, 64, 1200,
       [](const std::string& f) {
         const size_t found = f.find('S');
         ASSERT_LE(found, SharingPolicy::kMaxTrialInterval + 2);
         EXPECT_TRUE(onlyInTrials(f.substr(found), 'A'));
         EXPECT_GE(share(f.substr(found), 'S'), 0.95);
       }},
      {"frames of another size try the other way at once", pays, 8, 200,
       [](const std::string& f) {
         EXPECT_EQ(f.substr(0, 3), "AAS");
         EXPECT_TRUE(onlyInTrials(f, 'A'));
       }},
      {"too small a frame to repay waking a worker is composed alone", pays, 2, 200,
       [](const std::string& f) {
         EXPECT_TRUE(onlyInTrials(f, 'S'));
         EXPECT_GE(share(f, 'A'), 0.9);
       }},
      {"a single band is never shared", pays, 1, 50,
       [](const std::string& f) { EXPECT_EQ(f, std::string(50, 'A')); }},
      {"without workers nothing is shared", pays, 64, 50,
       [](const std::string& f) { EXPECT_EQ(f, std::string(50, 'A')); }, false, Sharing::Measured,
       false},
      {"lent rows: shared frames stream wide bands when that is faster", streams, 64, 400,
       [](const std::string& f) {
         const std::string settled = f.substr(10);
         EXPECT_TRUE(onlyInTrials(sharedOnly(settled), 'S'));
         EXPECT_TRUE(onlyInTrials(settled, 'A'));
         EXPECT_GE(share(settled, 'T'), 0.85);
         EXPECT_GE(runStarts(settled, 'S').size(), 5u);  // streaming is tried against in place
       },
       true},
      {"and compose in place again when streaming stops paying", streamsSlowly, 64, 400,
       [](const std::string& f) {
         const std::string settled = f.substr(4);
         EXPECT_TRUE(onlyInTrials(sharedOnly(settled), 'T'));
         EXPECT_GE(share(settled, 'S'), 0.85);
       },
       true},
      {"Always shares every frame of two bands or more, in place", busy, 64, 20,
       [](const std::string& f) { EXPECT_EQ(f, std::string(20, 'S')); }, true, Sharing::Always},
      {"AlwaysStreamed streams where rows are lent", busy, 64, 20,
       [](const std::string& f) { EXPECT_EQ(f, std::string(20, 'T')); }, true,
       Sharing::AlwaysStreamed},
      {"and composes in place where they are not", busy, 64, 20,
       [](const std::string& f) { EXPECT_EQ(f, std::string(20, 'S')); }, false,
       Sharing::AlwaysStreamed},
      {"even forced, one band is composed alone", busy, 1, 20,
       [](const std::string& f) { EXPECT_EQ(f, std::string(20, 'A')); }, false, Sharing::Always},
  };
  SharingPolicy policy;
  Time now = Time{} + 1h;
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.what);
    policy.setSharing(phase.sharing);
    phase.check(compose(policy, now, phase.machine, phase.bands, phase.frames, phase.lending,
                        phase.workers));
  }
}

// After a shared frame, the workers sleep until shortly before the next one
// is due (were it to come after the same gap), wait awake around it, and
// sleep without limit after it, or at once when frames do not come
// regularly.
TEST(SharingPolicyTest, WorkersWaitAwakeOnlyAroundADueFrame) {
  using Phase = SharingPolicy::WakeWindow::Phase;
  struct Case {
    Nanoseconds gap;
    Nanoseconds composed;
    Nanoseconds after;  // the end of the frame
    Phase phase;
  } cases[] = {
      {16ms, 1ms, 1ms, Phase::Early},    {16ms, 1ms, 16ms, Phase::Due},
      {16ms, 1ms, 15900us, Phase::Due},  {16ms, 1ms, 17ms, Phase::Over},
      {16ms, 10us, 15990us, Phase::Due}, {16ms, 10us, 15900us, Phase::Early},
      {1s, 1ms, 1s, Phase::Over},  // not regular: nothing is expected soon
  };
  for (const Case& c : cases) {
    SharingPolicy policy;
    const Time start = Time{} + 1h;
    policy.frameEnded(start);
    policy.frameOpened(start + c.gap);
    const Time end = start + c.gap + c.composed;
    EXPECT_EQ(policy.wakeWindowAfter(end, c.composed).phaseAt(end + c.after), c.phase)
        << c.gap.count() << " ns apart, " << c.after.count() << " ns after";
  }
  // The first frame has no gap to go by.
  SharingPolicy first;
  first.frameOpened(Time{} + 1h);
  EXPECT_EQ(first.wakeWindowAfter(Time{} + 1h, 1ms).phaseAt(Time{} + 1h), Phase::Over);
}

}  // namespace
}  // namespace nubrik
