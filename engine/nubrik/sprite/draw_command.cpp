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
      if (command.image == nullptr) break;
      if (command.isRotated()) {
        drawRotatedImage(*command.image, command.transform(), command.rotation, &clip, target,
                         command.blendMode, command.bounds, command.opacity);
      } else if (command.isTransformed()) {
        drawTransformedImage(*command.image, command.transform(), &clip, target, command.blendMode,
                             command.bounds, command.opacity);
      } else {
        drawImage(*command.image, command.sourceOrigin, &clip, target, command.blendMode,
                  command.bounds, command.opacity);
      }
      break;
  }
}

ImageTransform DrawCommand::transform() const {
  ImageTransform t;
  uint32_t width = sourceWidth, height = sourceHeight;
  if (width == 0 && height == 0) {
    // Unscaled from the origin: the bounds' size.
    width = static_cast<uint32_t>(bounds.right) - static_cast<uint32_t>(bounds.left);
    height = static_cast<uint32_t>(bounds.bottom) - static_cast<uint32_t>(bounds.top);
  }
  t.sourceRect = Rect{sourceOrigin.x, sourceOrigin.y,
                      static_cast<int32_t>(static_cast<uint32_t>(sourceOrigin.x) + width),
                      static_cast<int32_t>(static_cast<uint32_t>(sourceOrigin.y) + height)};
  t.flipHorizontal = (orientation & kFlipHorizontal) != 0;
  t.flipVertical = (orientation & kFlipVertical) != 0;
  t.quarterTurns = (orientation >> kQuarterTurnShift) & 3;
  t.tint = tint;
  return t;
}

bool hidesBelow(const DrawCommand& command, const Rect& area) {
  if (command.blendMode != BlendMode::Normal || command.opacity != 255 || !area.hasArea()) {
    return false;
  }
  switch (command.kind) {
    case DrawCommandKind::Fill:
      return colourAlpha(command.colour) == 255 && contains(command.bounds, area);
    case DrawCommandKind::Image: {
      if (command.image == nullptr || (command.tint >> 24) != 0xFF) return false;
      // A turned box leaves corners of its bounds uncovered.
      if (command.isRotated()) return false;
      const PixelFormat format = command.image->getPixelFormat();
      if (format != PixelFormat::Grey && format != PixelFormat::Rgb &&
          format != PixelFormat::Rgbx) {
        return false;
      }
      if (command.isTransformed()) {
        // Every pixel of the bounds samples the source rectangle, when that
        // lies inside the image (otherwise the draw is refused).
        const Rect source = command.transform().sourceRect;
        return source.hasArea() && source.left >= 0 && source.top >= 0 &&
               uint32_t(source.right) <= command.image->getWidth() &&
               uint32_t(source.bottom) <= command.image->getHeight() && command.bounds.hasArea() &&
               contains(command.bounds, area);
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
