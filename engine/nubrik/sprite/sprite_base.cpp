#include "nubrik/sprite/sprite_base.h"

#include <utility>

namespace nubrik {

SpriteBase::SpriteBase(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer,
                       int32_t id, int32_t zOrder)
    : manager_(std::move(manager)), drawer_(std::move(drawer)), id_(id), zOrder_(zOrder) {}

void SpriteBase::invalidate() {
  if (auto drawer = drawer_.lock()) drawer->invalidateRect(bounds());
}

void SpriteBase::invalidateOrder() {
  if (auto manager = manager_.lock()) manager->markOrderDirty();
}

DrawCommand SpriteBase::commonCommand(DrawCommandKind kind) const {
  DrawCommand command;
  command.kind = kind;
  command.blendMode = blendMode_;
  command.opacity = opacity_;
  command.bounds = bounds();
  return command;
}

}  // namespace nubrik
