#pragma once

#include <cstdint>

#include "nubrik/base/rect.h"
#include "nubrik/sprite/blend.h"

namespace nubrik {

struct DrawCommand;

// A drawable thing, made by a Screen (createFillRectSprite and the others).
// A change through any setter is redrawn by the next frame where the sprite
// was and where it is. invalidate() is for what setters do not see (an
// image's pixels changed in place); invalidateOrder() has the drawing order
// read again, as setZOrder already does.
class ISprite {
 public:
  virtual ~ISprite() = default;
  virtual int32_t getId() const = 0;
  virtual void setPosition(int32_t x, int32_t y) = 0;
  virtual int32_t getX() const = 0;
  virtual int32_t getY() const = 0;
  virtual void setZOrder(int32_t zOrder) = 0;
  virtual int32_t getZOrder() const = 0;
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
  virtual void setBlendMode(BlendMode mode) = 0;
  virtual BlendMode getBlendMode() const = 0;
  virtual void setOpacity(uint8_t opacity) = 0;
  virtual uint8_t getOpacity() const = 0;
  virtual void invalidate() = 0;
  virtual void invalidateOrder() = 0;

 private:
  // What the sprite draws this frame, in the compositor's terms, which are
  // the engine's own: it reads them through SpriteCommands (draw_command.h).
  friend class SpriteCommands;
  virtual DrawCommand getDrawCommand() const = 0;
};

}  // namespace nubrik
