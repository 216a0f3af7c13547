#include "nubrik/sprite/fill_rect_sprite.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "nubrik/sprite/draw_command.h"

namespace nubrik {

FillRectSprite::FillRectSprite(std::weak_ptr<IOrderTarget> manager,
                               std::weak_ptr<IRedrawTarget> drawer, int32_t id, const Rect& rect,
                               int32_t zOrder, const Colour& colour)
    : SpriteBase(std::move(manager), std::move(drawer), id, zOrder),
      rect_(rect),
      colour_(colour),
      width_(int64_t{rect.right} - rect.left),
      height_(int64_t{rect.bottom} - rect.top) {}

void FillRectSprite::setPosition(int32_t x, int32_t y) {
  noteChanged();
  // In 64 bits, cut to the coordinates: a wrapped side would hide the
  // rectangle, or spread an inverted one over everything.
  const auto end = [](int32_t start, int64_t size) {
    return static_cast<int32_t>(std::clamp<int64_t>(start + size, INT32_MIN, INT32_MAX));
  };
  rect_ = Rect{x, y, end(x, width_), end(y, height_)};
}

DrawCommand FillRectSprite::getDrawCommand() const {
  DrawCommand command = commonCommand(DrawCommandKind::Fill);
  command.colour = colour_;
  return command;
}

}  // namespace nubrik
