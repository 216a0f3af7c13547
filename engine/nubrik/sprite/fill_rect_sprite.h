#pragma once

#include "nubrik/sprite/sprite_base.h"

namespace nubrik {

// A rectangle filled with one colour; moving keeps its size.
class FillRectSprite final : public SpriteBase {
 public:
  FillRectSprite(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer,
                 int32_t id, const Rect& rect, int32_t zOrder, const Colour& colour);

  void setPosition(int32_t x, int32_t y) override;
  int32_t getX() const override { return rect_.left; }
  int32_t getY() const override { return rect_.top; }
  DrawCommand getDrawCommand() const override;

  // Store only, like every setter: the owner reports the old and the new
  // area with invalidate().
  void setRect(const Rect& rect) {
    noteChanged();
    rect_ = rect;
  }
  const Rect& getRect() const { return rect_; }
  void setColour(const Colour& colour) {
    noteChanged();
    colour_ = colour;
  }
  const Colour& getColour() const { return colour_; }

 protected:
  Rect bounds() const override { return rect_; }

 private:
  Rect rect_;
  Colour colour_;
};

}  // namespace nubrik
