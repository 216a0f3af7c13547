#include "app/sprite_rules.h"

namespace nubrik {

namespace {

bool drawsSomething(const ISprite& s) { return s.isVisible() && s.getOpacity() != 0; }

}  // namespace

void showSprite(ISprite& s) {
  if (!s.isVisible() && s.getOpacity() != 0) s.invalidate();
  s.show();
}

void changeOpacity(ISprite& s, uint8_t opacity) {
  if (s.getOpacity() == opacity) return;
  if (s.isVisible()) s.invalidate();
  s.setOpacity(opacity);
}

void changeBlendMode(ISprite& s, BlendMode mode) {
  if (s.getBlendMode() == mode) return;
  if (drawsSomething(s)) s.invalidate();
  s.setBlendMode(mode);
}

void moveSprite(ISprite& s, int32_t x, int32_t y) {
  if (x == s.getX() && y == s.getY()) return;
  if (!drawsSomething(s)) {
    s.setPosition(x, y);
    return;
  }
  s.invalidate();
  s.setPosition(x, y);
  s.invalidate();
}

}  // namespace nubrik
