#include "app/scene.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "app/sprite_rules.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/base/platform/random.h"

namespace nubrik {

Scene::Scene(IWindow& window, SceneOptions options)
    : window_(&window), hdc_(window.getDC()), frameLimit_(options.frameLimit) {
  if (hdc_ == nullptr) throw std::runtime_error("the window gave no device context");
  try {
    screen_ = std::make_shared<Screen>(hdc_, window.getClientWidth(), window.getClientHeight());
    snowflakes_ = buildDemoLayout(*screen_, loadDemoPictures(options.pictureFolder));

    screen_->addFrameCallback([this](Screen&) { return update(); });
    if (options.observer) screen_->addFrameCallback(std::move(options.observer));
    if (options.startFrameThread) screen_->startFrameThread();
  } catch (...) {
    // The destructor will not run: give back what was taken, in its order.
    screen_.reset();
    window.releaseDC(hdc_);
    throw;
  }
}

Scene::~Scene() {
  try {
    screen_->stopFrameThread();
    screen_.reset();
    window_->releaseDC(hdc_);
  } catch (...) {
    // Destruction goes on: the snowflakes below still let go of their sprites.
  }
}

void Scene::paint() { screen_->invalidateAll(); }

std::string describeStartFailure(const char* program, const std::exception& failure) {
  const bool picture = dynamic_cast<const PictureError*>(&failure) != nullptr;
  return std::string(program) + (picture ? ": cannot load the picture " : ": ") + failure.what();
}

int reportStartFailure(const char* program, const std::exception& failure) {
  std::fprintf(stderr, "%s\n", describeStartFailure(program, failure).c_str());
  return 1;
}

Point cursorSpritePosition(Point cursor, uint32_t imageWidth, uint32_t imageHeight) {
  // Wrapping arithmetic: a far-away cursor must not overflow.
  return Point{static_cast<int32_t>(static_cast<uint32_t>(cursor.x) - imageWidth / 2),
               static_cast<int32_t>(static_cast<uint32_t>(cursor.y) - imageHeight / 2)};
}

FlakeStep snowStep(const Scene::Snowflake& flake, int32_t x, int32_t y, uint8_t opacity, int r,
                   int32_t width, int32_t height) {
  int32_t dx;
  int32_t o = opacity;
  if (r % 2 != 0) {
    dx = std::min(flake.speed, flake.drift + 1);
    o = std::min(o + r % 3, 255);
  } else {
    dx = std::max(flake.drift - 1, -flake.speed);
    o = std::max(o - r % 3, 0);
  }
  FlakeStep step{x + dx, y + flake.speed, 0};
  if (step.x > width + 10) step.x = -10;
  if (step.y > height) {
    step.y = -10;
    o = flake.baseOpacity;
  }
  step.opacity = static_cast<uint8_t>(o);
  return step;
}

bool Scene::update() {
  if (frameLimit_ != 0 && screen_->getComposedFrameCount() >= frameLimit_) return false;
  const auto cursorSprite =
      std::dynamic_pointer_cast<ImageSprite>(screen_->findSprite(kCursorSpriteId));
  if (cursorSprite) {
    const auto& image = cursorSprite->getImage();
    const Point p =
        cursorSpritePosition(window_->getCursorPosition(), image->getWidth(), image->getHeight());
    moveSprite(*cursorSprite, p.x, p.y);
  }
  const auto width = static_cast<int32_t>(screen_->getWidth());
  const auto height = static_cast<int32_t>(screen_->getHeight());
  for (const Snowflake& flake : snowflakes_) {
    const int r = platform::random15();
    ISprite& sprite = *flake.sprite;
    const FlakeStep step =
        snowStep(flake, sprite.getX(), sprite.getY(), sprite.getOpacity(), r, width, height);
    moveSprite(sprite, step.x, step.y);
    changeOpacity(sprite, step.opacity);
  }
  return false;
}

}  // namespace nubrik
