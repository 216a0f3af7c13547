// Frame pacing: what an idle paced Screen costs against an unpaced one, and
// how evenly a paced animation's frames come against the machine's own
// timer (sleeping to the same ticks with nothing else to do), in the same
// run. Each case runs for a few seconds of wall time once.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "nubrik/screen/screen.h"
#include "nubrik/window/memory_window.h"

namespace nubrik {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::nanoseconds(1'000'000'000 / 60);
constexpr auto kRun = std::chrono::seconds(3);

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Spread {
  double perSecond = 0, meanMs = 0, sdMs = 0, driftMs = 0;
};

// Intervals between successive times; drift: how far the last one is from
// where whole ticks from the first would put it.
Spread spread(const std::vector<Clock::time_point>& times) {
  Spread s;
  if (times.size() < 3) return s;
  std::vector<double> ms;
  for (size_t i = 1; i < times.size(); ++i) {
    ms.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
  }
  double sum = 0, squares = 0;
  for (double v : ms) sum += v;
  s.meanMs = sum / double(ms.size());
  for (double v : ms) squares += (v - s.meanMs) * (v - s.meanMs);
  s.sdMs = std::sqrt(squares / double(ms.size()));
  const double span =
      std::chrono::duration<double, std::milli>(times.back() - times.front()).count();
  s.perSecond = double(ms.size()) * 1000.0 / span;
  const double tickMs = std::chrono::duration<double, std::milli>(kTick).count();
  s.driftMs = span - std::round(span / tickMs) * tickMs;
  return s;
}

// A Screen whose callback changes nothing, for a few seconds: the share of
// one core the process used.
void idleScreen(benchmark::State& state, bool paced) {
  for (auto _ : state) {
    MemoryWindow window(640, 480);
    Screen screen(window.getDC(), 640, 480);
    if (paced) screen.setFrameInterval(kTick);
    std::atomic<uint64_t> rounds{0};
    screen.addFrameCallback([&rounds](Screen&) {
      ++rounds;
      return false;
    });
    screen.startFrameThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // settled
    const double cpu = processCpuSeconds();
    const uint64_t before = rounds;
    const auto start = Clock::now();
    std::this_thread::sleep_for(kRun);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double used = processCpuSeconds() - cpu;
    screen.stopFrameThread();
    state.SetIterationTime(wall);
    state.counters["core_%"] = 100.0 * used / wall;
    state.counters["rounds/s"] = double(rounds - before) / wall;
  }
}

// A square moved every frame at 60 frames a second: the times at which
// frames were composed.
void pacedAnimation(benchmark::State& state) {
  for (auto _ : state) {
    MemoryWindow window(640, 480);
    Screen screen(window.getDC(), 640, 480);
    screen.setFrameInterval(kTick);
    screen.createFillRectSprite(1, {0, 0, 640, 480}, 0, {PixelFormat::Rgb, {20, 20, 20}})->show();
    auto square =
        screen.createFillRectSprite(2, {0, 200, 40, 240}, 1, {PixelFormat::Rgb, {255, 200, 0}});
    square->show();
    screen.invalidateAll();
    std::vector<Clock::time_point> composed;
    composed.reserve(1000);
    uint64_t frames = 0;
    screen.addFrameCallback([&](Screen& s, const FrameTime& time) {
      if (s.getComposedFrameCount() != frames) {
        frames = s.getComposedFrameCount();
        composed.push_back(time.now);
      }
      square->invalidate();
      square->setPosition((square->getX() + 2) % 600, square->getY());
      square->invalidate();
      return false;
    });
    const auto start = Clock::now();
    screen.startFrameThread();
    std::this_thread::sleep_for(kRun);
    screen.stopFrameThread();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    const Spread s = spread(std::vector(composed.begin() + 5, composed.end()));
    state.counters["frames/s"] = s.perSecond;
    state.counters["interval_ms"] = s.meanMs;
    state.counters["sd_ms"] = s.sdMs;
    state.counters["drift_ms"] = s.driftMs;
  }
}

// The bound: a thread that only sleeps to the same ticks.
void timerAlone(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Clock::time_point> woke;
    const auto origin = Clock::now();
    const auto start = origin;
    for (int n = 1; Clock::now() - start < kRun; ++n) {
      std::this_thread::sleep_until(origin + n * kTick);
      woke.push_back(Clock::now());
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    const Spread s = spread(woke);
    state.counters["frames/s"] = s.perSecond;
    state.counters["interval_ms"] = s.meanMs;
    state.counters["sd_ms"] = s.sdMs;
  }
}

BENCHMARK_CAPTURE(idleScreen, unpaced, false)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(idleScreen, paced_60, true)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(pacedAnimation)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(timerAlone)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace nubrik

BENCHMARK_MAIN();
