#pragma once

// A scene of the demonstration's shape for the compositor and frame
// benchmarks: a full-surface background, two squares, fifty 64 x 48
// translucent pictures along a diagonal and nine hundred small additive flakes.

#include <memory>
#include <random>
#include <vector>

#include "nubrik/image/image.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/fill_rect_sprite.h"
#include "nubrik/sprite/image_sprite.h"

namespace nubrik::bench {

inline std::shared_ptr<Image> softPicture(uint32_t width, uint32_t height, PixelFormat format,
                                          uint32_t seed) {
  std::mt19937 random(seed);
  auto image = std::make_shared<Image>(width, height, format);
  const uint32_t bpp = bytesPerPixel(format);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = image->lock() + y * image->getPitch() + x * bpp;
      for (uint32_t c = 0; c < bpp; ++c) p[c] = static_cast<uint8_t>(random());
      const uint32_t edge = std::min(std::min(x, width - 1 - x), std::min(y, height - 1 - y));
      const uint8_t alpha = static_cast<uint8_t>(std::min<uint32_t>(255, edge * 64));
      if (format == PixelFormat::GreyAlpha) p[1] = alpha;
      if (format == PixelFormat::Rgba) p[3] = alpha;
    }
  }
  return image;
}

// Builds the scene through `make`, a callable (id, x, y, zOrder, image) or
// (id, rect, zOrder, colour) returning the sprite, so that the same scene can
// be built on a bare registry or through a Screen.
template <typename MakeFill, typename MakeImage>
std::vector<std::shared_ptr<ISprite>> buildDemoScene(uint32_t width, uint32_t height,
                                                     MakeFill makeFill, MakeImage makeImage) {
  std::vector<std::shared_ptr<ISprite>> flakes;
  auto show = [](const std::shared_ptr<ISprite>& s) {
    s->show();
    s->invalidate();
  };
  show(makeFill(0, Rect{0, 0, int32_t(width), int32_t(height)}, 0,
                Colour{PixelFormat::Rgb, {255, 255, 255}}));
  show(makeFill(10, Rect{50, 50, 160, 160}, 2, Colour{PixelFormat::Rgb, {255, 0, 0}}));
  auto picture = softPicture(64, 48, PixelFormat::Rgba, 1);
  for (int k = 0; k < 50; ++k) {
    auto s = makeImage(11 + k, 75 + 5 * k, 75 + 5 * k, 3 + k, picture);
    s->setOpacity(128);
    show(s);
  }
  show(makeFill(50, Rect{100, 100, 200, 200}, 100, Colour{PixelFormat::Rgba, {0, 255, 0, 60}}));
  auto flake = softPicture(7, 7, PixelFormat::GreyAlpha, 2);
  auto smallFlake = softPicture(5, 5, PixelFormat::Rgba, 3);
  std::mt19937 random(4);
  for (int id = 100; id < 1000; ++id) {
    auto s = makeImage(id, int32_t(random() % width), int32_t(random() % height), 500,
                       random() % 5 < 2 ? smallFlake : flake);
    s->setBlendMode(BlendMode::Add);
    constexpr uint8_t kOpacities[] = {32, 64, 128, 192};
    s->setOpacity(kOpacities[id & 3]);
    show(s);
    flakes.push_back(s);
  }
  return flakes;
}

}  // namespace nubrik::bench
