#pragma once

#include <cstdint>

#include "nubrik/sprite/colour.h"
#include "nubrik/sprite/sprite_base.h"

namespace nubrik {

// A rectangle filled with one colour; moving keeps its size. A side moved
// past the 32-bit coordinates stops at their end (nothing beyond lies on
// any surface) rather than wrap, and the size is still the one set: moved
// back, the rectangle is whole again.
class FillRectSprite final : public SpriteBase {
 public:
  void setPosition(int32_t x, int32_t y) override;
  int32_t getX() const override { return rect_.left; }
  int32_t getY() const override { return rect_.top; }

  // Like every setter's, the change is redrawn by the next frame, where the
  // rectangle was and where it is.
  void setRect(const Rect& rect) {
    noteChanged();
    rect_ = rect;
    width_ = int64_t{rect.right} - rect.left;
    height_ = int64_t{rect.bottom} - rect.top;
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
  // Sprites are made by the engine (a program asks its Screen), through
  // makeSprite (sprite_factory.h).
  template <typename>
  friend struct SpriteAllocator;
  FillRectSprite(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer,
                 int32_t id, const Rect& rect, int32_t zOrder, const Colour& colour);
  DrawCommand getDrawCommand() const override;

  Rect rect_;
  Colour colour_;
  // The size as set (negative for an inverted rectangle), which a move
  // keeps even where rect_ is cut at the end of the coordinates.
  int64_t width_;
  int64_t height_;
};

}  // namespace nubrik
