#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/demo_layout.h"
#include "nubrik/base/platform/device_context.h"
#include "nubrik/screen/screen.h"

namespace nubrik {

// A picture file the scene could not load; what() names the file and why.
class PictureError : public std::runtime_error {
 public:
  PictureError(const std::string& file, const std::string& reason)
      : std::runtime_error("\"" + file + "\": " + reason), file_(file) {}
  const std::string& file() const { return file_; }

 private:
  std::string file_;
};

struct SceneOptions {
  // Where "load.gra", "snow.png" and "snow2.png" are; when empty, beside
  // the program where they are there, otherwise the working directory.
  std::string pictureFolder;
  // Runs after the scene's own frame callback, when given.
  FrameCallback observer;
  // False builds the picture without starting the frame thread (for tests).
  bool startFrameThread = true;
  // When not 0, the animation stops once this many frames were composed, so
  // that exactly that many are: the last shows the scene after one step less.
  uint64_t frameLimit = 0;
};

// The one line with which `program` reports a failed start (a picture that
// cannot be loaded, or any other failure).
std::string describeStartFailure(const char* program, const std::exception& failure);
// Prints that line and returns the exit code, 1.
int reportStartFailure(const char* program, const std::exception& failure);

// The demonstration: a white background, a red square, fifty half-transparent
// pictures along a diagonal (the one with identifier 40 follows the cursor),
// a translucent green square and nine hundred additive snowflakes that fall,
// wobble, flicker and re-enter at the top.
class Scene {
 public:
  using Snowflake = nubrik::Snowflake;

  static constexpr int32_t kCursorSpriteId = 40;

  // Builds the picture and starts the frame thread. Throws PictureError for
  // a picture that cannot be loaded; no thread is left running then.
  explicit Scene(IWindow& window, SceneOptions options = {});
  // Stops the frame thread and its workers, releases the Screen, then the
  // device context.
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // Asks for the whole window to be redrawn in the next frame.
  void paint();
  // One animation step; runs on the frame thread. Always false: keep calling.
  bool update();

  Screen& getScreen() { return *screen_; }
  const std::vector<Snowflake>& getSnowflakes() const { return snowflakes_; }

 private:
  IWindow* window_;
  IDeviceContext* hdc_;
  std::shared_ptr<Screen> screen_;
  std::vector<Snowflake> snowflakes_;
  uint64_t frameLimit_ = 0;
};

// Where the cursor sprite goes: its centre on the cursor (halves rounded down).
Point cursorSpritePosition(Point cursor, uint32_t imageWidth, uint32_t imageHeight);

// One flake's step from (x, y) at opacity `opacity`, with the random draw `r`,
// on a `width` x `height` surface.
struct FlakeStep {
  int32_t x;
  int32_t y;
  uint8_t opacity;
};
FlakeStep snowStep(const Scene::Snowflake& flake, int32_t x, int32_t y, uint8_t opacity, int r,
                   int32_t width, int32_t height);

}  // namespace nubrik
