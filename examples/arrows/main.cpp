// A square that the arrow keys move; Escape or closing the window ends it.
#include <nubrik/nubrik.h>

#include <cstdio>
#include <exception>

int main() try {
  using namespace nubrik;
  WindowOptions options;
  options.title = "Arrows";
  AppWindow app(options);  // 640 x 480, the platform's window, paced at 60 frames a second
  Screen& screen = app.getScreen();
  screen.createFillRectSprite(1, {0, 0, 640, 480}, 0, {PixelFormat::Rgb, {24, 28, 36}})->show();
  auto player =
      screen.createFillRectSprite(2, {300, 220, 340, 260}, 1, {PixelFormat::Rgb, {255, 190, 0}});
  player->show();
  screen.invalidateAll();
  double x = 300, y = 220;
  screen.addFrameCallback([&](Screen&, const FrameTime& time) {
    for (InputEvent event; app.input().poll(event);) {
      if (event.type == InputEventType::KeyDown && event.key == Key::Escape) app.quit(0);
    }
    const double step = 240 * time.seconds();  // pixels a second
    x += step * (app.input().isKeyDown(Key::Right) - app.input().isKeyDown(Key::Left));
    y += step * (app.input().isKeyDown(Key::Down) - app.input().isKeyDown(Key::Up));
    if (static_cast<int>(x) != player->getX() || static_cast<int>(y) != player->getY()) {
      player->invalidate();  // the old place, then the new one
      player->setPosition(static_cast<int>(x), static_cast<int>(y));
      player->invalidate();
    }
    return false;  // keep calling
  });
  return app.run();  // 0 after Escape or a close request
} catch (const std::exception& e) {
  std::fprintf(stderr, "arrows: %s\n", e.what());
  return 1;
}
