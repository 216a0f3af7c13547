// The demonstration's frame (the Scene, animating) on an in-memory window,
// on the X11 window through shared memory (a frame's bands sent together
// when the pipeline ends the frame), on the X11 window through the socket
// (XPutImage), and on SDL's window (its X11 driver, composed in place into
// SDL's shared-memory framebuffer; the window's thread shows each frame).
// The cases take turns over several rounds, so that a machine whose load
// changes treats them alike. Times are the frame thread's own measure of
// composing and presenting one frame; frames per second are counted on the
// wall clock. Then what an idle, paced window with a still picture costs
// the process, per window. Needs a display ($DISPLAY; scripts/run-bench.sh
// starts a virtual one when there is none).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/scene.h"
#include "nubrik/window/app_window.h"
#include "nubrik/window/memory_window.h"
#include "nubrik/window/open_window.h"
#include "nubrik/window/x11_window.h"
#ifdef NUBRIK_BENCH_SDL
#include <SDL.h>

#include "nubrik/window/sdl_library.h"
#include "nubrik/window/sdl_window.h"
#endif

namespace {

using namespace nubrik;

enum class Target { Memory, SharedMemory, Socket, Sdl };
#ifdef NUBRIK_BENCH_SDL
constexpr Target kTargets[] = {Target::Memory, Target::SharedMemory, Target::Socket, Target::Sdl};
#else
constexpr Target kTargets[] = {Target::Memory, Target::SharedMemory, Target::Socket};
#endif
const char* kNames[] = {"in-memory window", "X11, shared memory", "X11, XPutImage",
                        "SDL (x11 driver)"};
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
  // With a window whose own thread shows the frames, that thread runs its
  // event loop while it waits.
  double next(EventWindow* loop = nullptr) {
    std::unique_lock lock(lock_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (taken_ >= times_.size()) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      if (loop != nullptr) {
        lock.unlock();
        loop->waitEvent(2);
        lock.lock();
      } else {
        ready_.wait_until(lock, deadline);
      }
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
  std::unique_ptr<EventWindow> sdl;
  IWindow* window = &memory;
#ifdef NUBRIK_BENCH_SDL
  if (target == Target::Sdl) {
    setenv("SDL_VIDEODRIVER", "x11", 0);
    WindowOptions options;
    options.title = "Nubrik benchmark";
    options.width = 800;
    options.height = 600;
    options.gamepads = false;
    try {
      sdl = SdlWindow::create(options);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
    sdl->show();
    while (sdl->waitEvent(200) != WindowEvent::TimedOut) {
    }
    window = sdl.get();
  }
#endif
  if (target == Target::SharedMemory || target == Target::Socket) {
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
  for (int i = 0; i < 20; ++i) times.next(sdl.get());  // the first, whole frames
  std::vector<double> frames;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    const double ms = times.next(sdl.get());
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

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A program's idle window: paced at 60 frames a second, a still picture
// drawn once, its event loop waiting; the share of one core the process
// uses over a few seconds, or negative when the window cannot open.
double idleWindow(std::unique_ptr<EventWindow> window) {
  AppWindow app(std::move(window));
  Screen& screen = app.getScreen();
  auto background = screen.createFillRectSprite(
      1, {0, 0, int32_t(screen.getWidth()), int32_t(screen.getHeight())}, 0,
      {PixelFormat::Rgb, {40, 44, 52}});
  background->show();
  screen.invalidateAll();
  double used = 0, wall = 0;
  std::thread measure([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settled
    const double cpu = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    used = processCpuSeconds() - cpu;
    app.quit();
  });
  app.run();
  measure.join();
  return wall > 0 ? 100 * used / wall : -1;
}

void reportIdle() {
  std::printf("\n%-36s %12s\n", "idle paced window, still picture", "% of a core");
  auto line = [](const char* name, const std::function<std::unique_ptr<EventWindow>()>& make) {
    try {
      std::printf("%-36s %12.2f\n", name, idleWindow(make()));
    } catch (const std::exception& e) {
      std::printf("%-36s %12s  (%s)\n", name, "-", e.what());
    }
  };
  WindowOptions options;
  options.title = "Nubrik idle";
  options.width = 800;
  options.height = 600;
  line("in-memory window", [] { return std::make_unique<MemoryWindow>(800, 600); });
  line("X11", [&] { return X11Window::create(options); });
#ifdef NUBRIK_BENCH_SDL
  // Gamepads read as openWindow reads them for either window.
  line("X11, gamepads read", [&] { return openWindow(options); });
  line("SDL (x11 driver), gamepads read", [&] { return SdlWindow::create(options); });
  options.gamepads = false;
  line("SDL (x11 driver)", [&] { return SdlWindow::create(options); });
#if SDL_VERSION_ATLEAST(2, 24, 0)
  // A gamepad connected (SDL's virtual one): read every 4 ms.
  SdlSubsystem joysticks(SDL_INIT_JOYSTICK, "a virtual gamepad");
  SDL_VirtualJoystickDesc pad{};
  pad.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  pad.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  pad.naxes = SDL_CONTROLLER_AXIS_MAX;
  pad.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  pad.name = "benchmark pad";
  const int index = SDL_JoystickAttachVirtualEx(&pad);
  options.gamepads = true;
  line("X11, a gamepad connected", [&] { return openWindow(options); });
  line("SDL (x11 driver), a gamepad connected", [&] { return SdlWindow::create(options); });
  if (index >= 0) SDL_JoystickDetachVirtual(index);
#endif
#endif
}

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
  reportIdle();
  return 0;
}
