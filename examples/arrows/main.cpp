// A square that the arrow keys move; Escape or closing the window ends it.
#include <nubrik/nubrik.h>

#include <cstdio>
#include <exception>

int main() try {
  using namespace nubrik;
  AppWindow app(WindowOptions{.title = "Arrows"});  // 640 x 480, paced at 60 frames a second
  Screen& screen = app.getScreen();
  screen.createFillRectSprite({0, 0, 640, 480}, 0, {PixelFormat::Rgb, {24, 28, 36}})->show();
  auto player = screen.createFillRectSprite(Rect::fromSize(300, 220, 40, 40), 1,
                                            {PixelFormat::Rgb, {255, 190, 0}});
  player->show();
  double x = 300, y = 220;
  screen.addFrameCallback([&](Screen&, const FrameTime& time) {
    for (InputEvent event; app.input().poll(event);) {
      if (event.type == InputEventType::KeyDown && event.key == Key::Escape) app.quit(0);
    }
    const double step = 240 * time.seconds();  // pixels a second
    x += step * (app.input().isKeyDown(Key::Right) - app.input().isKeyDown(Key::Left));
    y += step * (app.input().isKeyDown(Key::Down) - app.input().isKeyDown(Key::Up));
    player->setPosition(static_cast<int>(x), static_cast<int>(y));  // redrawn by the next frame
    return false;                                                   // keep calling
  });
  return app.run();  // 0 after Escape or a close request
} catch (const std::exception& e) {
  std::fprintf(stderr, "arrows: %s\n", e.what());
  return 1;
}
