// Text in several sizes, colours, blend modes and alignments over a
// gradient in an in-memory window, written as a PNG.
//
//   text [out.png [font.ttf]]     the default font when none is given

#include <nubrik/nubrik.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : "text.png";
  constexpr int32_t kWidth = 480, kHeight = 320;
  using nubrik::BlendMode;
  using nubrik::Colour;
  using nubrik::PixelFormat;
  try {
    const auto font = argc > 2 ? nubrik::Font::fromFile(argv[2]) : nubrik::Font::defaultFont();
    nubrik::MemoryWindow window(kWidth, kHeight);
    nubrik::Event composed;  // outlives the Screen, whose frame thread sets it
    nubrik::Screen screen(window.getDC(), kWidth, kHeight);

    std::vector<std::shared_ptr<nubrik::ISprite>> sprites;
    // A gradient of bands to blend on.
    for (int32_t i = 0; i < 16; ++i) {
      const auto level = static_cast<uint8_t>(40 + i * 13);
      sprites.push_back(screen.createFillRectSprite(
          i, {i * kWidth / 16, 0, (i + 1) * kWidth / 16, kHeight}, 0,
          Colour{PixelFormat::Rgb, {level, uint8_t(255 - level), 160}}));
    }
    const auto text = [&](int32_t x, int32_t y, uint32_t size, const char* utf8, Colour colour,
                          BlendMode mode = BlendMode::Normal, uint8_t opacity = 255) {
      auto sprite =
          screen.createTextSprite(int32_t(sprites.size()), x, y, 1, font, size, utf8, colour);
      sprite->setBlendMode(mode);
      sprite->setOpacity(opacity);
      sprites.push_back(sprite);
      return sprite;
    };
    const Colour white{PixelFormat::Rgb, {255, 255, 255}};
    text(12, 8, 40, "Nubrik text", white);
    text(12, 60, 12, "12 pixels: the quick brown fox jumps over the lazy dog", white);
    text(12, 78, 18, "18 pixels, translucent", Colour{PixelFormat::Rgba, {0, 0, 80, 140}});
    text(12, 104, 24, "Add", Colour{PixelFormat::Rgb, {200, 120, 0}}, BlendMode::Add);
    text(90, 104, 24, "Subtract", Colour{PixelFormat::Rgb, {0, 200, 200}}, BlendMode::Subtract);
    text(220, 104, 24, "Multiply", Colour{PixelFormat::Rgb, {40, 40, 255}}, BlendMode::Multiply);
    text(12, 140, 24, "InverseMultiply", Colour{PixelFormat::Grey, {30}},
         BlendMode::InverseMultiply);
    text(240, 140, 24, "at half opacity", white, BlendMode::Normal, 128);
    text(12, 180, 16, "K\xC3\xA9rning: AVATAR, Wavy; bad bytes \xFF\xFE become \xEF\xBF\xBD",
         Colour{PixelFormat::Grey, {0}});
    const char* lines = "Centred lines\non the middle\nof the window";
    auto centred = text(0, 212, 20, lines, white);
    centred->setAlignment(nubrik::TextAlignment::Centre);
    // The text's box, whatever the alignment, centred on the window.
    const nubrik::Rect box = font->measureText(lines, 20);
    centred->setPosition((kWidth - (box.right - box.left)) / 2, 212);

    for (const auto& sprite : sprites) sprite->show();  // drawn by the first frame
    screen.addFrameCallback([&composed](nubrik::Screen&) {
      composed.set();
      return true;
    });
    screen.startFrameThread();
    if (!composed.wait(std::chrono::seconds(10))) {
      std::fprintf(stderr, "text: no frame within 10 seconds\n");
      return 1;
    }
    screen.stopFrameThread();
    nubrik::writeFile(out,
                      nubrik::encodePng(nubrik::rgbPicture(window.getSurface().getFramebuffer())));
    std::printf("wrote %s in %s\n", out.c_str(), font->getFamilyName().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "text: %s\n", e.what());
    return 1;
  }
  return 0;
}
