// A PNG decoded from memory and drawn once in each of the five blend modes
// over a coloured background in an in-memory window; every pixel of the
// five copies is read back and compared with the engine's blend rule.

#include <nubrik/nubrik.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

namespace {

constexpr uint32_t kSide = 16;              // the picture is kSide x kSide
constexpr int32_t kSpacing = 24;            // one copy every kSpacing pixels
constexpr uint32_t kBackground = 0xC86432;  // red 200, green 100, blue 50

// PNG bytes as they might come from a resource, an archive or the network:
// here a gradient, encoded by the engine's own encoder.
std::vector<uint8_t> gradientPng() {
  nubrik::PngPicture picture;
  picture.width = kSide;
  picture.height = kSide;
  picture.colourType = 2;  // RGB, 8 bits a sample
  for (uint32_t y = 0; y < kSide; ++y) {
    for (uint32_t x = 0; x < kSide; ++x) {
      picture.rows.insert(picture.rows.end(),
                          {uint8_t(x * 17), uint8_t(y * 17), uint8_t(255 - x * 8)});
    }
  }
  return nubrik::encodePng(picture);
}

uint32_t pixelAt(const nubrik::IImage& image, uint32_t x, uint32_t y) {
  nubrik::ConstPixelLock lock(image);
  const uint32_t size = nubrik::bytesPerPixel(image.getPixelFormat());
  const uint8_t* p = lock.pixels() + size_t(y) * image.getPitch() + size_t(x) * size;
  if (size == 3) return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];  // blue first
  uint32_t pixel;
  std::memcpy(&pixel, p, 4);
  return pixel;
}

}  // namespace

int main() {
  using nubrik::BlendMode;
  const BlendMode modes[] = {BlendMode::Normal, BlendMode::Add, BlendMode::Subtract,
                             BlendMode::Multiply, BlendMode::InverseMultiply};
  const char* names[] = {"Normal", "Add", "Subtract", "Multiply", "InverseMultiply"};
  try {
    const std::vector<uint8_t> png = gradientPng();
    const std::shared_ptr<nubrik::Image> picture =
        nubrik::loadImageFromMemory(png.data(), png.size());
    std::printf("decoded %zu PNG bytes: %ux%u\n", png.size(), picture->getWidth(),
                picture->getHeight());

    const uint32_t width = kSpacing * 5, height = kSpacing;
    nubrik::MemoryWindow window(width, height);
    nubrik::Event composed;  // outlives the Screen, whose frame thread sets it
    nubrik::Screen screen(window.getDC(), width, height);
    const nubrik::Colour background{nubrik::PixelFormat::Rgb, {200, 100, 50}};
    std::vector<std::shared_ptr<nubrik::ISprite>> sprites{
        screen.createFillRectSprite(0, {0, 0, int32_t(width), int32_t(height)}, 0, background)};
    for (int i = 0; i < 5; ++i) {
      auto sprite = screen.createImageSprite(1 + i, 4 + i * kSpacing, 4, 1, picture);
      sprite->setBlendMode(modes[i]);
      sprites.push_back(sprite);
    }
    for (const auto& sprite : sprites) sprite->show();  // drawn by the first frame

    // One frame is enough: the callback sees it composed, then goes.
    screen.addFrameCallback([&composed](nubrik::Screen& s) {
      if (s.getComposedFrameCount() == 0) return false;
      composed.set();
      return true;
    });
    screen.startFrameThread();
    if (!composed.wait(std::chrono::seconds(10))) {
      std::fprintf(stderr, "blend_modes: no frame within 10 seconds\n");
      return 1;
    }
    screen.stopFrameThread();

    const nubrik::Image& framebuffer = window.getSurface().getFramebuffer();
    int wrong = 0;
    for (int i = 0; i < 5; ++i) {
      for (uint32_t y = 0; y < kSide; ++y) {
        for (uint32_t x = 0; x < kSide; ++x) {
          const uint32_t source = pixelAt(*picture, x, y);
          const uint32_t expected = nubrik::blendPixel(modes[i], kBackground, source) & 0xFFFFFF;
          const uint32_t seen = pixelAt(framebuffer, 4 + i * kSpacing + x, 4 + y) & 0xFFFFFF;
          if (seen != expected && wrong++ < 5) {
            std::fprintf(stderr, "blend_modes: %s at (%u, %u): %06X, expected %06X\n", names[i], x,
                         y, seen, expected);
          }
        }
      }
      std::printf("%-15s source %06X over %06X gives %06X\n", names[i], pixelAt(*picture, 8, 8),
                  kBackground, pixelAt(framebuffer, 4 + i * kSpacing + 8, 4 + 8) & 0xFFFFFF);
    }
    if (wrong != 0) {
      std::fprintf(stderr, "blend_modes: %d pixels differ from the blend rules\n", wrong);
      return 1;
    }
    std::printf("all %u pixels of the five copies match the blend rules\n", 5 * kSide * kSide);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "blend_modes: %s\n", e.what());
    return 1;
  }
  return 0;
}
