#pragma once

#include <cstring>
#include <memory>

#include "nubrik/image/image.h"
#include "nubrik/image/memory_helper.h"
#include "nubrik/screen/frame_pipeline.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/window/memory_window.h"

namespace nubrik::testing {

inline std::shared_ptr<Image> rgbxImage(uint32_t width, uint32_t height, uint8_t fill) {
  auto bytes = MemoryHelper::allocate(size_t{width} * height * 4);
  std::memset(bytes.get(), fill, size_t{width} * height * 4);
  return std::make_shared<Image>(width, height, width * 4, bytes);
}

// One frame through the real pipeline on the calling thread alone.
inline void composeFrame(SpriteDrawer& drawer, MemorySurface& surface) {
  FramePipeline(drawer, &surface, 1).composeFrame();
}

// The picture the commands make from scratch on a cleared surface: every
// command drawn over the whole surface at once, with no bands and no damage.
inline std::shared_ptr<Image> plainComposition(const std::vector<DrawCommand>& commands,
                                               uint32_t width, uint32_t height) {
  auto picture = rgbxImage(width, height, 0);
  const BandClip whole{Rect{0, 0, int32_t(width), int32_t(height)}, 0, 0};
  for (const DrawCommand& command : commands) drawCommand(*picture, whole, command);
  return picture;
}

// The commands of the registry's visible sprites, in drawing order.
inline std::vector<DrawCommand> visibleCommands(SpriteManager& manager) {
  manager.sortIfDirty();
  std::vector<DrawCommand> commands;
  for (const auto& entry : manager) {
    if (entry.sprite->isVisible()) commands.push_back(SpriteCommands::of(*entry.sprite));
  }
  return commands;
}

inline bool samePixels(const Image& a, const Image& b) {
  return a.getPitch() == b.getPitch() && a.getHeight() == b.getHeight() &&
         std::memcmp(a.lockConst(), b.lockConst(), size_t{a.getPitch()} * a.getHeight()) == 0;
}

}  // namespace nubrik::testing
