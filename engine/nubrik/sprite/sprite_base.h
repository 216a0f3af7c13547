#pragma once

#include <cstdint>
#include <memory>

#include "nubrik/base/rect.h"
#include "nubrik/sprite/sprite.h"

namespace nubrik {

class IOrderTarget;
class IRedrawTarget;
class SceneGuard;
class SpriteManager;
enum class DrawCommandKind : int32_t;

// The registry's bookkeeping kept inside a registered sprite: its place in
// the registry, and what it has already reported for the coming frame, so
// that reporting again costs a flag test. The engine's own (sprite_owners.h
// says who reports what).
struct RegistryLink {
  static constexpr uint32_t kUnregistered = UINT32_MAX;
  // The registry's guard, which lives at least as long as the registration.
  const SceneGuard* guard = nullptr;
  uint32_t slot = kUnregistered;
  bool changeReported = false;
  bool orderReported = false;
  bool redrawReported = false;
};

// The state every sprite kind shares: identity, order, visibility, blending,
// and weak links to the registry and compositor of the Screen that made it.
// Once those are gone, invalidate() and invalidateOrder() do nothing.
//
// The compositor keeps each sprite's draw command between frames, so every
// setter tells the registry that the sprite may draw differently (once per
// frame; see noteChanged): the compositor reads it again and redraws where
// it was and where it is when it draws differently.
class SpriteBase : public ISprite {
 public:
  int32_t getId() const override { return id_; }
  void setZOrder(int32_t zOrder) override {
    noteChanged();
    zOrder_ = zOrder;
    reportOrder();
  }
  int32_t getZOrder() const override { return zOrder_; }
  void show() override {
    noteChanged();
    visible_ = true;
  }
  void hide() override {
    noteChanged();
    visible_ = false;
  }
  bool isVisible() const override { return visible_; }
  void setBlendMode(BlendMode mode) override {
    noteChanged();
    blendMode_ = mode;
  }
  BlendMode getBlendMode() const override { return blendMode_; }
  void setOpacity(uint8_t opacity) override {
    noteChanged();
    opacity_ = opacity;
  }
  uint8_t getOpacity() const override { return opacity_; }
  // Reports the sprite's area for redrawing; a sprite that covers no pixel
  // reports nothing.
  void invalidate() override;
  void invalidateOrder() override;

 protected:
  // The area the sprite covers now, in surface coordinates.
  virtual Rect bounds() const = 0;
  // A command with the common fields filled in.
  DrawCommand commonCommand(DrawCommandKind kind) const;
  // Throws std::logic_error when the sprite's Screen is composing frames and
  // the caller does not hold its scene lock. Every setter of a sprite kind
  // calls this (or noteChanged) before it reads or makes anything of the
  // sprite's: a refused call must touch nothing that a frame may be using.
  void checkLock() const {
    if (link_.guard != nullptr) checkGuard(*link_.guard);
  }
  // Every setter of a sprite kind calls this (after checkLock, before
  // storing, so that a refused change stores nothing): what getDrawCommand
  // returns may change. Checks the lock as checkLock does.
  void noteChanged() {
    checkLock();
    if (!link_.changeReported && link_.slot != RegistryLink::kUnregistered) reportChange();
  }

 private:
  // The engine's sprite kinds are the only ones: the registry and the
  // compositor a sprite reports to are the engine's own.
  friend class FillRectSprite;
  friend class ImageSprite;
  friend class TextSprite;
  SpriteBase(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer, int32_t id,
             int32_t zOrder);

  // For the registry that holds the sprite: where it is registered, and
  // whether its reports reach `registry` (they go to the Screen that made it).
  friend class SpriteManager;
  RegistryLink& registryLink() { return link_; }
  bool reportsTo(const IOrderTarget& registry) const;

  static void checkGuard(const SceneGuard& guard);
  void reportChange();
  // A registered sprite's z-order changed: it takes its new place in the
  // order by the next frame.
  void reportOrder();

  std::weak_ptr<IOrderTarget> manager_;
  std::weak_ptr<IRedrawTarget> drawer_;
  int32_t id_;
  int32_t zOrder_;
  RegistryLink link_;
  bool visible_ = false;
  BlendMode blendMode_ = BlendMode::Normal;
  uint8_t opacity_ = 255;
};

}  // namespace nubrik
