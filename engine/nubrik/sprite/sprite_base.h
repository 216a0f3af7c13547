#pragma once

#include <cstdint>
#include <memory>

#include "nubrik/sprite/sprite.h"
#include "nubrik/sprite/sprite_owners.h"

namespace nubrik {

// The state every sprite kind shares: identity, order, visibility, blending,
// and weak links to the registry and compositor of the Screen that made it.
// Once those are gone, invalidate() and invalidateOrder() do nothing.
class SpriteBase : public ISprite {
 public:
  int32_t getId() const override { return id_; }
  void setZOrder(int32_t zOrder) override { zOrder_ = zOrder; }
  int32_t getZOrder() const override { return zOrder_; }
  void show() override { visible_ = true; }
  void hide() override { visible_ = false; }
  bool isVisible() const override { return visible_; }
  void setBlendMode(BlendMode mode) override { blendMode_ = mode; }
  BlendMode getBlendMode() const override { return blendMode_; }
  void setOpacity(uint8_t opacity) override { opacity_ = opacity; }
  uint8_t getOpacity() const override { return opacity_; }
  void invalidate() override;
  void invalidateOrder() override;

 protected:
  SpriteBase(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer, int32_t id,
             int32_t zOrder);

  // The area the sprite covers now, in surface coordinates.
  virtual Rect bounds() const = 0;
  // A command with the common fields filled in.
  DrawCommand commonCommand(DrawCommandKind kind) const;
  // Every setter of a sprite kind calls this after storing: what
  // getDrawCommand returns may have changed.
  void noteChanged() {}

 private:
  std::weak_ptr<IOrderTarget> manager_;
  std::weak_ptr<IRedrawTarget> drawer_;
  int32_t id_;
  int32_t zOrder_;
  bool visible_ = false;
  BlendMode blendMode_ = BlendMode::Normal;
  uint8_t opacity_ = 255;
};

}  // namespace nubrik
