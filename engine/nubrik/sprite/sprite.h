#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/sprite/blend.h"
#include "nubrik/sprite/draw_command.h"

namespace nubrik {

// A drawable thing. Setters only store: the owner reports what must be
// redrawn with invalidate() (before a change and again after a move) and a
// changed z-order with invalidateOrder().
class ISprite {
 public:
  virtual ~ISprite() = default;
  virtual int32_t getId() const = 0;
  virtual void setPosition(int32_t x, int32_t y) = 0;
  virtual int32_t getX() const = 0;
  virtual int32_t getY() const = 0;
  virtual void setZOrder(int32_t zOrder) = 0;
  virtual int32_t getZOrder() const = 0;
  virtual DrawCommand getDrawCommand() const = 0;
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
  virtual void setBlendMode(BlendMode mode) = 0;
  virtual BlendMode getBlendMode() const = 0;
  virtual void setOpacity(uint8_t opacity) = 0;
  virtual uint8_t getOpacity() const = 0;
  virtual void invalidate() = 0;
  virtual void invalidateOrder() = 0;
};

}  // namespace nubrik
