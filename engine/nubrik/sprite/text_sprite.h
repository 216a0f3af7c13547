#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "nubrik/image/image.h"
#include "nubrik/sprite/colour.h"
#include "nubrik/sprite/sprite_base.h"
#include "nubrik/text/font.h"
#include "nubrik/text/text_alignment.h"

namespace nubrik {

// UTF-8 text in a font at a pixel size and a colour, drawn with the sprite's
// blend mode and opacity as an image whose alpha is the glyphs' coverage
// (times the colour's own alpha). Lines break at "\n" and are aligned on the
// pen origin, the alignment point on the first baseline.
//
// Its position is the top-left of the text's box (see Font::measureText).
// What it draws and reports for redrawing is the exact box of its ink, cut
// to at most kMaxExtent pixels each way and kMaxPixels in all from that
// box's top-left (and to 2^30 pixels from the origin, and to the 32-bit
// coordinates, which it never wraps around): a new score redraws
// its digits, not the line around them. A change of text, colour, size or
// alignment renders the text again from the font's cached glyphs, at a cost
// that follows the text, and keeps the pen origin where it is; setPosition
// moves the text's box. As for every sprite, a change through a setter is
// redrawn by the next frame.
class TextSprite final : public SpriteBase {
 public:
  static constexpr uint32_t kMaxExtent = 16384;
  static constexpr uint64_t kMaxPixels = uint64_t{1} << 24;

  void setPosition(int32_t x, int32_t y) override;
  int32_t getX() const override;
  int32_t getY() const override;

  // Each leaves the sprite as it was when it throws, and throws
  // std::logic_error, as every setter does, when the sprite's Screen is
  // composing frames and the caller does not hold its scene lock.
  void setText(std::string_view utf8);
  // Throws std::invalid_argument for a colour the constructor refuses.
  void setColour(const Colour& colour);
  // Throws std::invalid_argument for a size outside the font's range.
  void setPixelSize(uint32_t pixelSize);
  void setAlignment(TextAlignment alignment);

  const std::string& getText() const { return text_; }
  const Colour& getColour() const { return colour_; }
  uint32_t getPixelSize() const { return pixelSize_; }
  TextAlignment getAlignment() const { return alignment_; }
  const std::shared_ptr<Font>& getFont() const { return font_; }
  // The rendered text: the colour with the coverage as alpha, in Rgba, or
  // GreyAlpha for a grey colour.
  const std::shared_ptr<Image>& getImage() const { return image_; }

 protected:
  Rect bounds() const override;

 private:
  // Sprites are made by the engine (a program asks its Screen), through
  // makeSprite (sprite_factory.h).
  template <typename>
  friend struct SpriteAllocator;
  // The text's box starts with its top-left at (x, y). Throws
  // std::invalid_argument for an empty font handle, a pixel size outside the
  // font's range, or a colour of a kind other than Grey, Rgb, GreyAlpha and
  // Rgba.
  TextSprite(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer, int32_t id,
             int32_t x, int32_t y, int32_t zOrder, std::shared_ptr<Font> font, uint32_t pixelSize,
             std::string_view utf8, const Colour& colour);
  DrawCommand getDrawCommand() const override;

  struct Rendering;
  static Rendering render(Font& font, uint32_t pixelSize, std::string_view utf8,
                          const Colour& colour, TextAlignment alignment);
  void adopt(Rendering rendering);

  std::shared_ptr<Font> font_;
  uint32_t pixelSize_;
  std::string text_;
  Colour colour_;
  TextAlignment alignment_ = TextAlignment::Left;
  // The pen origin in surface coordinates, in 64 bits: the text's box
  // starts at the sprite's position, which may lie anywhere in 32 bits.
  int64_t originX_ = 0;
  int64_t originY_ = 0;
  Rect box_;   // the text's box, relative to the origin
  Rect area_;  // the ink drawn, relative to the origin
  std::shared_ptr<Image> image_;
};

}  // namespace nubrik
