#include "nubrik/sprite/draw_command.h"

#include <algorithm>

#include "nubrik/sprite/fill_blitters.h"
#include "nubrik/sprite/image_blitters.h"

namespace nubrik {

void drawCommand(IImage& target, const BandClip& clip, const DrawCommand& command) {
  switch (command.kind) {
    case DrawCommandKind::Fill:
      fillRect(target, &clip, command.blendMode, command.bounds, command.colour, command.opacity);
      break;
    case DrawCommandKind::Image:
      if (command.image != nullptr) {
        drawImage(*command.image, command.sourceOrigin, &clip, target, command.blendMode,
                  command.bounds, command.opacity);
      }
      break;
  }
}

bool hidesBelow(const DrawCommand& command, const Rect& area) {
  if (command.blendMode != BlendMode::Normal || command.opacity != 255 || !area.hasArea()) {
    return false;
  }
  switch (command.kind) {
    case DrawCommandKind::Fill:
      return colourAlpha(command.colour) == 255 && contains(command.bounds, area);
    case DrawCommandKind::Image: {
      if (command.image == nullptr) return false;
      const PixelFormat format = command.image->getPixelFormat();
      if (format != PixelFormat::Grey && format != PixelFormat::Rgb &&
          format != PixelFormat::Rgbx) {
        return false;
      }
      // What the image covers: the bounds, cut to the source placed so that
      // sourceOrigin lands on the bounds' top-left corner.
      const int64_t left = int64_t{command.bounds.left} - command.sourceOrigin.x;
      const int64_t top = int64_t{command.bounds.top} - command.sourceOrigin.y;
      const int64_t coveredLeft = std::max<int64_t>(command.bounds.left, left);
      const int64_t coveredTop = std::max<int64_t>(command.bounds.top, top);
      const int64_t coveredRight =
          std::min<int64_t>(command.bounds.right, left + command.image->getWidth());
      const int64_t coveredBottom =
          std::min<int64_t>(command.bounds.bottom, top + command.image->getHeight());
      return coveredLeft <= area.left && coveredTop <= area.top && coveredRight >= area.right &&
             coveredBottom >= area.bottom;
    }
  }
  return false;
}

}  // namespace nubrik
