#include "nubrik/sprite/sprite_base.h"

#include <utility>

#include "nubrik/base/scene_guard.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/sprite_owners.h"

namespace nubrik {

SpriteBase::SpriteBase(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer,
                       int32_t id, int32_t zOrder)
    : manager_(std::move(manager)), drawer_(std::move(drawer)), id_(id), zOrder_(zOrder) {}

bool SpriteBase::reportsTo(const IOrderTarget& registry) const {
  return manager_.lock().get() == &registry;
}

void SpriteBase::checkGuard(const SceneGuard& guard) { guard.check(); }

void SpriteBase::invalidate() {
  // Before the sprite is read: a frame may be changing it.
  checkLock();
  if (link_.slot != RegistryLink::kUnregistered) {
    // Registered, the compositor redraws where the sprite was and where it
    // is when it next reads it: asking again costs a flag test.
    if (!link_.redrawReported) {
      if (auto manager = manager_.lock()) manager->spriteRedrawn(link_);
    }
    if (link_.redrawReported) return;
  }
  const Rect area = bounds();
  // An empty rectangle would mean the whole surface to the compositor.
  if (!area.hasArea()) return;
  if (auto drawer = drawer_.lock()) {
    drawer->invalidateRect(area);
    // What the area shows next is read from the sprite again.
    noteChanged();
  }
}

void SpriteBase::reportOrder() {
  if (link_.slot == RegistryLink::kUnregistered || link_.orderReported) return;
  if (auto manager = manager_.lock()) manager->spriteOrderChanged(link_);
}

void SpriteBase::invalidateOrder() {
  checkScene(link_.guard);
  auto manager = manager_.lock();
  if (!manager) return;
  if (link_.slot == RegistryLink::kUnregistered) {
    manager->markOrderDirty();
  } else if (!link_.orderReported) {
    manager->spriteOrderChanged(link_);
  }
}

void SpriteBase::reportChange() {
  if (auto manager = manager_.lock()) manager->spriteChanged(link_);
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
