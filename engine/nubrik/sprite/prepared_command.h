// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/sprite/blit_loops.h"
#include "nubrik/sprite/draw_command.h"

namespace nubrik {

// Rows of 4-byte pixels that a compositor draws into: `rows` rows of
// `width` pixels from `pixels`, `pitch` bytes apart, showing the surface
// rows from `top` on.
struct RegionTarget {
  uint8_t* pixels = nullptr;
  size_t pitch = 0;
  int32_t top = 0;
  uint32_t width = 0;
  uint32_t rows = 0;
};

// A draw command with every choice that does not depend on where it is
// drawn made once, when the compositor takes the command in: which loop
// draws it, with which weight, where its source lies and what it can
// reach. A frame draws a command once for every piece of damage it
// reaches; each draw is then a clip and a loop call.
//
// Drawing a prepared command into a clip rectangle changes exactly what
// drawCommand changes there, and fails where it fails: commands that the
// loops cannot draw directly (sampled images, sources that drawImage
// refuses) go through drawCommand itself.
class PreparedCommand {
 public:
  PreparedCommand() = default;
  // Keeps a reference to `command`, which must stay where it is for as
  // long as this is drawn.
  explicit PreparedCommand(const DrawCommand& command);

  const DrawCommand* command() const { return command_; }

  // The surface pixels drawing may change; empty when it changes none.
  const Rect& reach() const { return reach_; }

  // The command moved by (dx, dy), as preparing the moved command would
  // make it: false, changing nothing, where that is not plain arithmetic
  // (coordinates near the ends of 32 bits), so that the caller prepares
  // the moved command instead. What a frame in which many sprites move
  // mostly asks for.
  bool translate(int32_t dx, int32_t dy);

  // Draws the part of the command inside `clip` (surface coordinates,
  // within the region) into `region`, with `loops`.
  void draw(const blit::LoopTable& loops, const RegionTarget& region, const Rect& clip) const;

 private:
  enum class Path : uint8_t { Nothing, Fill, Image, Command };

  Rect reach_;
  const DrawCommand* command_ = nullptr;
  // Image: the source, held here so that drawing never reads the command.
  const IImage* image_ = nullptr;
  Path path_ = Path::Nothing;
  uint8_t mode_ = 0;
  // Fill: the weight case. Image: whether it is faded.
  uint8_t variant_ = 0;
  uint8_t format_ = 0;
  // Fill: the pixel. Image: bytes per source pixel.
  uint32_t pixel_ = 0;
  uint32_t weight_ = 0;
  uint32_t sourcePitch_ = 0;
  // Image: the surface position of the source's pixel (0, 0).
  int64_t originX_ = 0;
  int64_t originY_ = 0;
};

}  // namespace nubrik
