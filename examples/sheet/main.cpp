// An animated sprite from a sheet: four frames side by side in one image, a
// frame shown at a time through the sprite's source rectangle, drawn plain,
// flipped, turned and scaled. Checks pixels against the sampling rule and
// writes the picture as a PNG.
//
//   sheet [out.png]
//
// The sampling rule: target pixel (i, j) of a sprite of width x height
// pixels, showing the source rectangle (sx, sy, sw, sh):
// 1. The rectangle is flipped, then turned, then scaled. (W', H') is
//    (sw, sh) for 0 and 180 degrees, (sh, sw) for 90 and 270.
// 2. u = floor((2i + 1) * W' / (2 * width)), v = floor((2j + 1) * H' / (2 * height)).
// 3. Undoing the turn: 0 degrees (a, b) = (u, v); 90 (v, sh - 1 - u);
//    180 (sw - 1 - u, sh - 1 - v); 270 (sw - 1 - v, u).
// 4. Undoing the flips: a = sw - 1 - a when flipped horizontally, b = sh - 1 - b
//    when flipped vertically.
// 5. The pixel (sx + a, sy + b) is shown, its channels and alpha multiplied
//    by the tint (c * t / 255, rounded) when there is one.

#include <nubrik/nubrik.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace {

constexpr uint32_t kFrame = 16, kFrames = 4;
constexpr uint64_t kLastFrame = 48;

// A sheet of four 16 x 16 frames: an arrow pointing right over a clear
// background, its head a little further on in each frame, its colour shifting.
std::shared_ptr<nubrik::Image> makeSheet() {
  auto sheet = std::make_shared<nubrik::Image>(kFrame * kFrames, kFrame, nubrik::PixelFormat::Rgba);
  nubrik::PixelLock lock(*sheet);
  std::memset(lock.pixels(), 0, size_t(sheet->getPitch()) * sheet->getHeight());
  for (uint32_t f = 0; f < kFrames; ++f) {
    for (uint32_t y = 0; y < kFrame; ++y) {
      for (uint32_t x = 0; x < kFrame; ++x) {
        const uint32_t tip = 11 + f;  // the arrow's point moves right frame by frame
        const uint32_t dy = y > 7 ? y - 7 : 7 - y;
        const bool shaft = x >= 2 && x < tip - 4 && dy <= 1;
        const bool head = x >= tip - 6 && x <= tip && dy <= tip - x;
        if (!shaft && !head) continue;
        uint8_t* p = lock.pixels() + size_t(y) * sheet->getPitch() + size_t(f * kFrame + x) * 4;
        p[0] = uint8_t(40 * f);        // blue
        p[1] = uint8_t(200 - 40 * f);  // green
        p[2] = 255;                    // red
        p[3] = 255;                    // alpha
      }
    }
  }
  return sheet;
}

uint32_t pixelAt(const nubrik::IImage& image, uint32_t x, uint32_t y) {
  nubrik::ConstPixelLock lock(image);
  uint32_t pixel;
  std::memcpy(&pixel, lock.pixels() + size_t(y) * image.getPitch() + size_t(x) * 4, 4);
  return pixel;
}

// Where target pixel (i, j) of `sprite` samples its image, by the rule.
void sample(const nubrik::ImageSprite& sprite, uint32_t i, uint32_t j, uint32_t& x, uint32_t& y) {
  const nubrik::Rect r = sprite.getSourceRect();
  const uint64_t sw = uint64_t(r.right - r.left), sh = uint64_t(r.bottom - r.top);
  const uint32_t turns = sprite.getQuarterTurns();
  const uint64_t wide = turns % 2 ? sh : sw, high = turns % 2 ? sw : sh;
  const uint64_t u = (2 * uint64_t(i) + 1) * wide / (2 * uint64_t(sprite.getWidth()));
  const uint64_t v = (2 * uint64_t(j) + 1) * high / (2 * uint64_t(sprite.getHeight()));
  uint64_t a = u, b = v;
  if (turns == 1) a = v, b = sh - 1 - u;
  if (turns == 2) a = sw - 1 - u, b = sh - 1 - v;
  if (turns == 3) a = sw - 1 - v, b = u;
  if (sprite.isFlippedHorizontally()) a = sw - 1 - a;
  if (sprite.isFlippedVertically()) b = sh - 1 - b;
  x = uint32_t(r.left + a), y = uint32_t(r.top + b);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : "sheet.png";
  try {
    constexpr uint32_t kWidth = 320, kHeight = 200;
    nubrik::MemoryWindow window(kWidth, kHeight);
    nubrik::Event done;  // outlives the Screen, whose frame thread sets it
    nubrik::Screen screen(window.getDC(), kWidth, kHeight);
    const auto sheet = makeSheet();

    auto background = screen.createFillRectSprite(0, {0, 0, kWidth, kHeight}, 0,
                                                  {nubrik::PixelFormat::Rgb, {32, 48, 64}});
    // The same sheet four ways: plain, flipped and scaled 3 times, turned a
    // quarter and scaled 4 times, and turned half round, squashed and tinted.
    auto plain = screen.createImageSprite(1, 20, 20, 1, sheet);
    auto flipped = screen.createImageSprite(2, 60, 20, 1, sheet);
    flipped->setFlip(true, false);
    flipped->setSize(3 * kFrame, 3 * kFrame);
    auto turned = screen.createImageSprite(3, 140, 20, 1, sheet);
    turned->setQuarterTurns(1);
    turned->setSize(4 * kFrame, 4 * kFrame);
    auto squashed = screen.createImageSprite(4, 20, 120, 1, sheet);
    squashed->setQuarterTurns(2);
    squashed->setSize(5 * kFrame, 2 * kFrame);
    squashed->setTint({nubrik::PixelFormat::Rgba, {128, 255, 255, 200}});
    std::shared_ptr<nubrik::ImageSprite> arrows[] = {plain, flipped, turned, squashed};
    for (const auto& arrow : arrows) arrow->setSourceRect({0, 0, int32_t(kFrame), int32_t(kFrame)});
    background->show();  // a changed sprite is redrawn by the next frame
    for (const auto& arrow : arrows) arrow->show();

    // Each frame shows the sheet's next frame; the squashed arrow also moves.
    screen.addFrameCallback([&](nubrik::Screen& s) {
      const uint64_t frame = s.getComposedFrameCount();
      if (frame >= kLastFrame) {
        done.set();
        return true;
      }
      const int32_t left = int32_t(frame % kFrames * kFrame);
      for (const auto& arrow : arrows) {
        arrow->setSourceRect({left, 0, left + int32_t(kFrame), int32_t(kFrame)});
      }
      squashed->setPosition(squashed->getX() + 3, squashed->getY());
      return false;
    });
    screen.startFrameThread();
    if (!done.wait(std::chrono::seconds(10))) {
      std::fprintf(stderr, "sheet: no %llu frames within 10 seconds\n",
                   static_cast<unsigned long long>(kLastFrame));
      return 1;
    }
    screen.stopFrameThread();

    // Every opaque sheet pixel that the flipped and the turned arrows show
    // must be in the picture where the rule puts it.
    const nubrik::Image& picture = window.getSurface().getFramebuffer();
    uint32_t checked = 0;
    for (const auto* arrow : {flipped.get(), turned.get()}) {
      for (uint32_t j = 0; j < arrow->getHeight(); ++j) {
        for (uint32_t i = 0; i < arrow->getWidth(); ++i) {
          uint32_t x, y;
          sample(*arrow, i, j, x, y);
          const uint32_t source = pixelAt(*sheet, x, y);
          if (source >> 24 != 255) continue;
          const uint32_t shown =
              pixelAt(picture, uint32_t(arrow->getX()) + i, uint32_t(arrow->getY()) + j);
          if (shown != source) {
            std::fprintf(stderr, "sheet: pixel (%u, %u) of sprite %d is %08X, not %08X\n", i, j,
                         arrow->getId(), shown, source);
            return 1;
          }
          ++checked;
        }
      }
    }
    std::printf("after %llu frames: %u pixels of the flipped and turned arrows follow the rule\n",
                static_cast<unsigned long long>(screen.getComposedFrameCount()), checked);
    nubrik::writeFile(out, nubrik::encodePng(nubrik::rgbPicture(picture)));
    std::printf("wrote %s (nubrik %s)\n", out.c_str(), NUBRIK_VERSION_STRING);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sheet: %s\n", e.what());
    return 1;
  }
  return 0;
}
