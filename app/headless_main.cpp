// nubrik-headless: the demonstration's scene on an in-memory 800 x 600
// window, with the frame thread and workers running as in the real window.
// Prints one JSON line of figures; optionally writes the picture as a PNG.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/scene.h"
#include "nubrik/base/event.h"
#include "nubrik/base/exception.h"
#include "nubrik/image/png_encoder.h"
#include "nubrik/text/font.h"
#include "nubrik/version.h"
#include "nubrik/window/memory_window.h"

namespace {

using namespace nubrik;
namespace fs = std::filesystem;

constexpr const char* kProgram = "nubrik-headless";
constexpr long long kMaxFrames = 1'000'000;
constexpr long long kCursorLimit = 100'000;

struct Options {
  uint64_t frames = 300;
  Point cursor{400, 300};
  std::string snapshot;
  std::string pictures;
  bool fpsOverlay = false;
};

void printUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: nubrik-headless [--frames N] [--cursor X,Y] [--pictures DIR] "
               "[--snapshot FILE] [--fps-overlay]\n"
               "  --frames N       compose N frames, 1 to %lld (default 300)\n"
               "  --cursor X,Y     the cursor position the scene sees, each from -%lld to %lld\n"
               "                   (default 400,300)\n"
               "  --pictures DIR   the folder of load.gra, snow.png and snow2.png\n"
               "                   (default: the working directory)\n"
               "  --snapshot FILE  write the picture as an 8-bit RGB PNG at the end\n"
               "  --fps-overlay    show the frames per second in the top-left corner\n"
               "                   (in the default font, DejaVuSans.ttf beside the program)\n"
               "  --help           print this and exit\n"
               "  --version        print the version and exit\n",
               kMaxFrames, kCursorLimit, kCursorLimit);
}

bool parseNumber(const std::string& text, long long low, long long high, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && end != text.c_str() && *end == '\0' && value >= low && value <= high;
}

enum class Parsed { Run, Exit, Fail };

// Reads the arguments into `options`; on failure `error` says which
// argument and why.
Parsed parse(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      printUsage(stdout);
      return Parsed::Exit;
    }
    if (name == "--version") {
      std::printf("%s %s\n", kProgram, NUBRIK_VERSION_STRING);
      return Parsed::Exit;
    }
    if (name == "--fps-overlay") {
      options.fpsOverlay = true;
      continue;
    }
    // Both "--name value" and "--name=value".
    std::optional<std::string> value;
    if (const size_t equals = name.find('=');
        name.starts_with("--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == "--fps-overlay") {
      error = "--fps-overlay takes no value";
      return Parsed::Fail;
    }
    const bool known =
        name == "--frames" || name == "--cursor" || name == "--pictures" || name == "--snapshot";
    if (!known) {
      error = name.starts_with("-") ? "unknown option " + name : "unexpected argument " + name;
      return Parsed::Fail;
    }
    if (!value) {
      if (i + 1 >= argc) return error = "missing value for " + name, Parsed::Fail;
      value = argv[++i];
    }
    const std::string bad = "bad value \"" + *value + "\" for " + name + ": ";
    long long n = 0;
    if (name == "--frames") {
      if (!parseNumber(*value, 1, kMaxFrames, n)) {
        error = bad + "expected a whole number from 1 to " + std::to_string(kMaxFrames);
        return Parsed::Fail;
      }
      options.frames = static_cast<uint64_t>(n);
    } else if (name == "--cursor") {
      const size_t comma = value->find(',');
      long long x = 0, y = 0;
      if (comma == std::string::npos ||
          !parseNumber(value->substr(0, comma), -kCursorLimit, kCursorLimit, x) ||
          !parseNumber(value->substr(comma + 1), -kCursorLimit, kCursorLimit, y)) {
        error = bad + "expected X,Y with each a whole number from " +
                std::to_string(-kCursorLimit) + " to " + std::to_string(kCursorLimit);
        return Parsed::Fail;
      }
      options.cursor = Point{static_cast<int32_t>(x), static_cast<int32_t>(y)};
    } else if (value->empty()) {
      error = bad + (name == "--pictures" ? "expected a folder" : "expected a file name");
      return Parsed::Fail;
    } else {
      (name == "--pictures" ? options.pictures : options.snapshot) = *value;
    }
  }
  return Parsed::Run;
}

// Why the snapshot could not be written at `path`, or nothing when its
// folder is there and writable: checked before any frame is composed, so
// that a long run is not lost at its end.
std::optional<std::string> snapshotProblem(const std::string& path) {
  std::error_code error;
  if (fs::is_directory(path, error)) return "it is a folder";
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, error)) {
    return "the folder \"" + folder.string() + "\" " +
           (fs::exists(folder, error) ? "is not a folder" : "does not exist");
  }
#if defined(_WIN32)
  constexpr int kWritable = 2;  // folders need no search right there
#else
  constexpr int kWritable = W_OK | X_OK;
#endif
  if (access(folder.string().c_str(), kWritable) != 0) {
    return "the folder \"" + folder.string() + "\": " + std::strerror(errno);
  }
  return std::nullopt;
}

// The frames per second over the last second, shown by a text sprite above
// everything else. Runs on the frame thread, under the scene lock.
class FpsOverlay {
 public:
  static constexpr int32_t kId = 1'000'000;
  static constexpr int32_t kZOrder = 1'000'000;

  FpsOverlay(Screen& screen, std::shared_ptr<Font> font)
      : sprite_(screen.createTextSprite(kId, 6, 4, kZOrder, std::move(font), 18, "-- fps",
                                        Colour{PixelFormat::Rgb, {200, 0, 0}})) {
    sprite_->show();
    sprite_->invalidate();
  }

  void frameComposed() {
    const auto now = std::chrono::steady_clock::now();
    frames_.push_back(now);
    while (now - frames_.front() > std::chrono::seconds(1)) frames_.pop_front();
    // A few times a second, to stay readable.
    if (now - shown_ < std::chrono::milliseconds(250) || frames_.size() < 2) return;
    shown_ = now;
    const double seconds = std::chrono::duration<double>(now - frames_.front()).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.0f fps", double(frames_.size() - 1) / seconds);
    if (text == sprite_->getText()) return;
    sprite_->invalidate();
    sprite_->setText(text);
    sprite_->invalidate();
  }

 private:
  std::shared_ptr<TextSprite> sprite_;
  std::deque<std::chrono::steady_clock::time_point> frames_;
  std::chrono::steady_clock::time_point shown_;
};

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
  switch (parse(argc, argv, options, error)) {
    case Parsed::Exit:
      return 0;
    case Parsed::Fail:
      std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
      printUsage(stderr);
      return 2;
    case Parsed::Run:
      break;
  }
  if (!options.snapshot.empty()) {
    if (const auto problem = snapshotProblem(options.snapshot)) {
      std::fprintf(stderr, "%s: cannot write the snapshot \"%s\": %s\n", kProgram,
                   options.snapshot.c_str(), problem->c_str());
      return 1;
    }
  }

  MemoryWindow window(800, 600);
  window.setCursorPosition(options.cursor);
  std::vector<double> frameTimes;
  frameTimes.reserve(options.frames + 64);
  uint64_t seen = 0;
  Event enough;
  const auto start = std::chrono::steady_clock::now();
  try {
    const auto overlayFont = options.fpsOverlay ? Font::defaultFont() : nullptr;
    std::optional<FpsOverlay> overlay;  // made and used under the scene lock
    SceneOptions sceneOptions;
    sceneOptions.pictureFolder = options.pictures;
    sceneOptions.frameLimit = options.frames;
    sceneOptions.observer = [&](Screen& screen) {
      if (screen.getComposedFrameCount() != seen) {
        seen = screen.getComposedFrameCount();
        frameTimes.push_back(screen.getLastFrameMilliseconds());
        if (seen >= options.frames) {
          enough.set();
        } else if (overlay) {
          // Not after the last frame: that one is the picture.
          overlay->frameComposed();
        }
      }
      return false;
    };
    Scene scene(window, std::move(sceneOptions));
    if (overlayFont) {
      std::lock_guard lock(scene.getScreen().getSceneLock());
      overlay.emplace(scene.getScreen(), overlayFont);
    }
    enough.wait();
    scene.getScreen().stopFrameThread();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t frames = scene.getScreen().getComposedFrameCount();
    if (!options.snapshot.empty()) {
      try {
        writeFile(options.snapshot, encodePng(rgbPicture(window.getSurface().getFramebuffer())));
      } catch (const Win32Exception& e) {
        const int code = static_cast<int>(e.errorCode());
        std::fprintf(stderr, "%s: cannot write the snapshot \"%s\": %s\n", kProgram,
                     options.snapshot.c_str(), code != 0 ? std::strerror(code) : "write failed");
        return 1;
      }
    }
    std::printf(
        "{\"frames\": %llu, \"seconds\": %.3f, \"fps\": %.1f, \"median_ms\": %.3f, "
        "\"p95_ms\": %.3f}\n",
        static_cast<unsigned long long>(frames), seconds, frames / seconds,
        percentile(frameTimes, 0.5), percentile(frameTimes, 0.95));
  } catch (const std::exception& e) {
    return reportStartFailure(kProgram, e);
  }
  return 0;
}
