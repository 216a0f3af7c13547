// A red square that moves one pixel a frame across a white in-memory window.
// Waits for 60 frames, checks one pixel, and writes the picture as a PNG.
//
//   moving_square [out.png]

#include <nubrik/nubrik.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

constexpr uint64_t kFrames = 60;

// The framebuffer's pixel at (x, y) as 0xAARRGGBB.
uint32_t pixelAt(const nubrik::Image& image, int32_t x, int32_t y) {
  nubrik::ConstPixelLock lock(image);
  uint32_t pixel;
  std::memcpy(&pixel, lock.pixels() + size_t(y) * image.getPitch() + size_t(x) * 4, 4);
  return pixel;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : "moving_square.png";
  try {
    nubrik::MemoryWindow window(320, 240);
    nubrik::Event done;  // outlives the Screen, whose frame thread sets it
    nubrik::Screen screen(window.getDC(), 320, 240);

    auto background = screen.createFillRectSprite(0, {0, 0, 320, 240}, /*zOrder=*/0,
                                                  {nubrik::PixelFormat::Rgb, {255, 255, 255}});
    auto square = screen.createFillRectSprite(1, {20, 100, 60, 140}, /*zOrder=*/1,
                                              {nubrik::PixelFormat::Rgb, {255, 0, 0}});
    background->show();  // a changed sprite is redrawn by the next frame
    square->show();

    // Frame callbacks run on the frame thread after each frame is composed,
    // under the scene lock: the place to change sprites.
    screen.addFrameCallback([&done, square](nubrik::Screen& s) {
      if (s.getComposedFrameCount() >= kFrames) {
        done.set();
        return true;  // done: remove this callback
      }
      square->setPosition(square->getX() + 1, square->getY());  // where it was and is are redrawn
      return false;                                             // call again next frame
    });
    screen.startFrameThread();  // composes on one worker per processor
    if (!done.wait(std::chrono::seconds(10))) {
      std::fprintf(stderr, "moving_square: no %llu frames within 10 seconds\n",
                   static_cast<unsigned long long>(kFrames));
      return 1;
    }
    screen.stopFrameThread();  // now the framebuffer may be read

    const nubrik::Image& picture = window.getSurface().getFramebuffer();
    const int32_t x = square->getX(), y = square->getY();
    const uint32_t inside = pixelAt(picture, x, y) & 0xFFFFFF;
    const uint32_t behind = pixelAt(picture, x - 1, y) & 0xFFFFFF;
    std::printf("after %llu frames the square is at (%d, %d): pixel %06X, left of it %06X\n",
                static_cast<unsigned long long>(screen.getComposedFrameCount()), x, y, inside,
                behind);
    if (x <= 20 || inside != 0xFF0000 || behind != 0xFFFFFF) {
      std::fprintf(stderr, "moving_square: the picture is not what was drawn\n");
      return 1;
    }

    nubrik::writeFile(out, nubrik::encodePng(nubrik::rgbPicture(picture)));
    std::printf("wrote %s (nubrik %s)\n", out.c_str(), NUBRIK_VERSION_STRING);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "moving_square: %s\n", e.what());
    return 1;
  }
  return 0;
}
