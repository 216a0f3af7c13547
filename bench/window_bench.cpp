// The demonstration's frame (the Scene, animating) on an in-memory window,
// on the X11 window through shared memory (a frame's bands sent together
// when the pipeline ends the frame), and on the X11 window through the
// socket (XPutImage). The cases take turns over
// several rounds, so that a machine whose load changes treats them alike.
// Times are the frame thread's own measure of composing and presenting one
// frame; frames per second are counted on the wall clock. Needs a display
// ($DISPLAY; scripts/run-bench.sh starts a virtual one when there is none).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/scene.h"
#include "nubrik/window/memory_window.h"
#include "nubrik/window/x11_window.h"

namespace {

using namespace nubrik;

enum class Target { Memory, SharedMemory, Socket };
constexpr Target kTargets[] = {Target::Memory, Target::SharedMemory, Target::Socket};
const char* kNames[] = {"in-memory window", "X11, shared memory", "X11, XPutImage"};
constexpr int kRounds = 5;

// Per target, the median frame and the frame rate of each round.
std::map<Target, std::vector<double>> gMedians;
std::map<Target, std::vector<double>> gRates;

// The frame thread's measure of each composed frame, handed to the
// benchmark's thread one at a time.
class FrameTimes {
 public:
  bool observe(nubrik::Screen& screen) {
    std::lock_guard lock(lock_);
    if (screen.getComposedFrameCount() != seen_) {
      seen_ = screen.getComposedFrameCount();
      times_.push_back(screen.getLastFrameMilliseconds());
      ready_.notify_one();
    }
    return false;
  }
  // The next frame's milliseconds; negative when none came within 10 s.
  double next() {
    std::unique_lock lock(lock_);
    if (!ready_.wait_for(lock, std::chrono::seconds(10), [&] { return taken_ < times_.size(); })) {
      return -1;
    }
    return times_[taken_++];
  }

 private:
  std::mutex lock_;
  std::condition_variable ready_;
  std::vector<double> times_;
  size_t taken_ = 0;
  uint64_t seen_ = 0;
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void sceneFrame(benchmark::State& state, Target target) {
  MemoryWindow memory(800, 600);
  memory.setCursorPosition({400, 300});
  std::unique_ptr<X11Window> x11;
  IWindow* window = &memory;
  if (target != Target::Memory) {
    X11WindowOptions options;
    options.sharedMemory = target != Target::Socket;
    try {
      x11 = X11Window::create("Nubrik benchmark", "Nubrik class", 800, 600, options);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
    if (!x11) {
      state.SkipWithError("cannot open a display (is DISPLAY set?)");
      return;
    }
    // Drawing on a window that is not mapped costs the server nothing.
    x11->show();
    auto first = x11->waitEvent();
    while (first == X11Window::WindowEvent::Input) first = x11->waitEvent();  // the pointer's
    if (first != X11Window::WindowEvent::Redraw) {
      state.SkipWithError(x11->getFailure().c_str());
      return;
    }
    window = x11.get();
  }
  FrameTimes times;
  SceneOptions options;
  options.pictureFolder = NUBRIK_RUN_DIR;
  options.observer = [&](nubrik::Screen& screen) { return times.observe(screen); };
  std::unique_ptr<Scene> scene;
  try {
    scene = std::make_unique<Scene>(*window, std::move(options));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  if (x11 && target != Target::Socket && !x11->getSlowPathReason().empty()) {
    state.SkipWithError(("no shared memory: " + x11->getSlowPathReason()).c_str());
    return;
  }
  for (int i = 0; i < 20; ++i) times.next();  // the first, whole frames
  std::vector<double> frames;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    const double ms = times.next();
    if (ms < 0) {
      state.SkipWithError("no frame for 10 seconds");
      break;
    }
    frames.push_back(ms);
    state.SetIterationTime(ms / 1000);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  scene.reset();
  if (x11 && !x11->getFailure().empty()) state.SkipWithError(x11->getFailure().c_str());
  const double rate = seconds > 0 ? frames.size() / seconds : 0;
  state.counters["median_ms"] = median(frames);
  state.counters["frames_per_second"] = rate;
  if (frames.empty()) return;
  gMedians[target].push_back(median(frames));
  gRates[target].push_back(rate);
}

}  // namespace

int main(int argc, char** argv) {
  for (int round = 0; round < kRounds; ++round) {
    for (Target t : kTargets) {
      benchmark::RegisterBenchmark((std::string("sceneFrame/") + kNames[int(t)]).c_str(),
                                   sceneFrame, t)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  // Ratios are taken round by round, against the in-memory run next to them.
  const std::vector<double>& base = gMedians[Target::Memory];
  std::printf("\n%-30s %12s %12s %14s\n", "demonstration frame", "median ms", "frames/s",
              "vs in-memory");
  for (Target t : kTargets) {
    const std::vector<double>& m = gMedians[t];
    if (m.empty()) continue;
    std::vector<double> ratios;
    for (size_t i = 0; i < m.size() && i < base.size(); ++i) ratios.push_back(m[i] / base[i]);
    std::printf("%-30s %12.3f %12.0f %13.2fx\n", kNames[int(t)], median(m), median(gRates[t]),
                median(ratios));
  }
  return 0;
}
