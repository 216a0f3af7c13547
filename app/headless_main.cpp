// nubrik-headless: the demonstration's scene on an in-memory 800 x 600
// window, with the frame thread and workers running as in the real window.
// Prints one JSON line of figures; optionally writes the picture as a PNG.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/scene.h"
#include "nubrik/base/event.h"
#include "nubrik/image/png_encoder.h"
#include "nubrik/screen/memory_window.h"

namespace {

using namespace nubrik;

struct Options {
  uint64_t frames = 300;
  Point cursor{400, 300};
  std::string snapshot;
};

int usage(const char* why) {
  std::fprintf(stderr,
               "nubrik-headless: %s\n"
               "usage: nubrik-headless [--frames N] [--cursor X,Y] [--snapshot FILE]\n"
               "  --frames N       compose N frames (default 300)\n"
               "  --cursor X,Y     the cursor position the scene sees (default 400,300)\n"
               "  --snapshot FILE  write the picture as an 8-bit RGB PNG at the end\n",
               why);
  return 2;
}

bool parseNumber(const char* text, long long low, long long high, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

bool parse(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      error = "missing value for " + arg;
      return false;
    }
    const char* value = argv[++i];
    long long n = 0;
    if (arg == "--frames") {
      if (!parseNumber(value, 1, 1'000'000, n)) return error = "bad --frames", false;
      options.frames = static_cast<uint64_t>(n);
    } else if (arg == "--cursor") {
      const char* comma = std::strchr(value, ',');
      long long x = 0, y = 0;
      if (comma == nullptr || !parseNumber(std::string(value, comma).c_str(), -100000, 100000, x) ||
          !parseNumber(comma + 1, -100000, 100000, y)) {
        return error = "bad --cursor", false;
      }
      options.cursor = Point{static_cast<int32_t>(x), static_cast<int32_t>(y)};
    } else if (arg == "--snapshot") {
      if (*value == '\0') return error = "bad --snapshot", false;
      options.snapshot = value;
    } else {
      error = "unknown argument " + arg;
      return false;
    }
  }
  return true;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index =
      std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parse(argc, argv, options, error)) return usage(error.c_str());

  MemoryWindow window(800, 600);
  window.setCursorPosition(options.cursor);
  std::vector<double> frameTimes;
  frameTimes.reserve(options.frames + 64);
  uint64_t seen = 0;
  Event enough;
  const auto start = std::chrono::steady_clock::now();
  try {
    SceneOptions sceneOptions;
    sceneOptions.frameLimit = options.frames;
    sceneOptions.observer = [&](Screen& screen) {
      if (screen.getComposedFrameCount() != seen) {
        seen = screen.getComposedFrameCount();
        frameTimes.push_back(screen.getLastFrameMilliseconds());
        if (seen >= options.frames) enough.set();
      }
      return false;
    };
    Scene scene(window, std::move(sceneOptions));
    enough.wait();
    scene.getScreen().stopFrameThread();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t frames = scene.getScreen().getComposedFrameCount();
    if (!options.snapshot.empty()) {
      writeFile(options.snapshot, encodePng(rgbPicture(window.getSurface().getFramebuffer())));
    }
    std::printf(
        "{\"frames\": %llu, \"seconds\": %.3f, \"fps\": %.1f, \"median_ms\": %.3f, "
        "\"p95_ms\": %.3f}\n",
        static_cast<unsigned long long>(frames), seconds, frames / seconds,
        percentile(frameTimes, 0.5), percentile(frameTimes, 0.95));
  } catch (const std::exception& e) {
    return reportStartFailure("nubrik-headless", e);
  }
  return 0;
}
