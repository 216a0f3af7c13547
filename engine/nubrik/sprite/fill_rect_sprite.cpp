#include "nubrik/sprite/fill_rect_sprite.h"

#include <utility>

namespace nubrik {

FillRectSprite::FillRectSprite(std::weak_ptr<IOrderTarget> manager,
                               std::weak_ptr<IRedrawTarget> drawer, int32_t id, const Rect& rect,
                               int32_t zOrder, const Colour& colour)
    : SpriteBase(std::move(manager), std::move(drawer), id, zOrder), rect_(rect), colour_(colour) {}

void FillRectSprite::setPosition(int32_t x, int32_t y) {
  // Wrapping arithmetic: a size or position near the 32-bit limits must not be
  // undefined behaviour; such rectangles are clipped away when drawn.
  const uint32_t width = static_cast<uint32_t>(rect_.right) - static_cast<uint32_t>(rect_.left);
  const uint32_t height = static_cast<uint32_t>(rect_.bottom) - static_cast<uint32_t>(rect_.top);
  noteChanged();
  rect_ = Rect{x, y, static_cast<int32_t>(static_cast<uint32_t>(x) + width),
               static_cast<int32_t>(static_cast<uint32_t>(y) + height)};
}

DrawCommand FillRectSprite::getDrawCommand() const {
  DrawCommand command = commonCommand(DrawCommandKind::Fill);
  command.colour = colour_;
  return command;
}

}  // namespace nubrik
