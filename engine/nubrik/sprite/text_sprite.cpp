#include "nubrik/sprite/text_sprite.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "nubrik/image/pixel_lock.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/text/font_face.h"
#include "nubrik/text/text_layout.h"

namespace nubrik {

struct TextSprite::Rendering {
  Rect box;
  Rect area;
  std::shared_ptr<Image> image;
};

namespace {

constexpr int64_t kMaxReach = int64_t{1} << 30;

std::shared_ptr<Font> requireFont(std::shared_ptr<Font> font) {
  if (!font) throw std::invalid_argument("a TextSprite needs a font");
  return font;
}

// The colours text is drawn in, as for a tint: the others would draw black.
const Colour& requireColour(const Colour& colour, const char* operation) {
  if (colour.kind != PixelFormat::Grey && colour.kind != PixelFormat::Rgb &&
      colour.kind != PixelFormat::GreyAlpha && colour.kind != PixelFormat::Rgba) {
    throw std::invalid_argument(std::string(operation) + ": colour kind " +
                                std::to_string(static_cast<int>(colour.kind)) +
                                " is not Grey, Rgb, GreyAlpha or Rgba");
  }
  return colour;
}

// A coordinate cut to what 32 bits hold: far-away text stops at the end of
// the coordinates rather than wrap.
int32_t coordinate(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

TextSprite::Rendering TextSprite::render(Font& font, uint32_t pixelSize, std::string_view utf8,
                                         const Colour& colour, TextAlignment alignment) {
  Font::checkPixelSize(pixelSize);
  FontFace& face = font.face();
  std::lock_guard lock(face.mutex());
  TextLayout layout(face, pixelSize, alignment);
  TextBox area;
  TextBox box = layout.measure(utf8, &area);
  // Nothing farther than kMaxReach from the origin, so that both boxes fit
  // 32 bits, and only the top-left part of the ink within the caps.
  const auto reach = [](TextBox& b) {
    b.left = std::clamp(b.left, -kMaxReach, kMaxReach);
    b.top = std::clamp(b.top, -kMaxReach, kMaxReach);
    b.right = std::clamp(b.right, b.left, kMaxReach);
    b.bottom = std::clamp(b.bottom, b.top, kMaxReach);
  };
  reach(box);
  reach(area);
  area.right = area.left + std::min<int64_t>(area.width(), kMaxExtent);
  const int64_t rows =
      std::min<int64_t>(kMaxExtent, kMaxPixels / std::max<int64_t>(area.width(), 1));
  area.bottom = area.top + std::min<int64_t>(area.height(), rows);

  const auto width = static_cast<uint32_t>(area.width());
  const auto height = static_cast<uint32_t>(area.height());
  std::vector<uint8_t> coverage(size_t{width} * height);
  layout.draw(utf8, area, coverage.data(), width);
  // The colour, with the coverage (scaled by the colour's alpha) as alpha.
  // A grey colour needs only a level: GreyAlpha draws the same pixels as
  // Rgba would, from half the bytes.
  const uint32_t rgb = toPixel(colour) & 0x00FFFFFFu;
  const uint32_t alpha = colourAlpha(colour);
  const bool grey = rgb == (rgb & 0xFF) * 0x010101u;
  auto image =
      std::make_shared<Image>(width, height, grey ? PixelFormat::GreyAlpha : PixelFormat::Rgba);
  {
    PixelLock pixels(*image);
    uint8_t* to = pixels.pixels();
    const auto fill = [&](auto store) {
      if (alpha == 255) {
        for (size_t i = 0; i < coverage.size(); ++i) store(i, coverage[i]);
      } else {
        for (size_t i = 0; i < coverage.size(); ++i) {
          store(i, (coverage[i] * alpha + 127) / 255);
        }
      }
    };
    if (grey) {
      fill([&](size_t i, uint32_t a) {
        to[2 * i] = static_cast<uint8_t>(rgb);
        to[2 * i + 1] = static_cast<uint8_t>(a);
      });
    } else {
      fill([&](size_t i, uint32_t a) {
        const uint32_t word = rgb | a << 24;  // the pixel's bytes, blue first
        std::memcpy(to + 4 * i, &word, 4);
      });
    }
  }
  const auto rect = [](const TextBox& b) {
    return Rect{static_cast<int32_t>(b.left), static_cast<int32_t>(b.top),
                static_cast<int32_t>(b.right), static_cast<int32_t>(b.bottom)};
  };
  return Rendering{rect(box), rect(area), std::move(image)};
}

TextSprite::TextSprite(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer,
                       int32_t id, int32_t x, int32_t y, int32_t zOrder, std::shared_ptr<Font> font,
                       uint32_t pixelSize, std::string_view utf8, const Colour& colour)
    : SpriteBase(std::move(manager), std::move(drawer), id, zOrder),
      font_(requireFont(std::move(font))),
      pixelSize_(pixelSize),
      text_(utf8),
      colour_(requireColour(colour, "TextSprite")) {
  adopt(render(*font_, pixelSize_, text_, colour_, alignment_));
  originX_ = int64_t{x} - box_.left;
  originY_ = int64_t{y} - box_.top;
}

void TextSprite::adopt(Rendering rendering) {
  box_ = rendering.box;
  area_ = rendering.area;
  image_ = std::move(rendering.image);
}

void TextSprite::setPosition(int32_t x, int32_t y) {
  noteChanged();
  originX_ = int64_t{x} - box_.left;
  originY_ = int64_t{y} - box_.top;
}

int32_t TextSprite::getX() const { return coordinate(originX_ + box_.left); }
int32_t TextSprite::getY() const { return coordinate(originY_ + box_.top); }

Rect TextSprite::bounds() const {
  return Rect{coordinate(originX_ + area_.left), coordinate(originY_ + area_.top),
              coordinate(originX_ + area_.right), coordinate(originY_ + area_.bottom)};
}

DrawCommand TextSprite::getDrawCommand() const {
  DrawCommand command = commonCommand(DrawCommandKind::Image);
  // Where the area was cut at the start of the coordinates, the image is
  // drawn from as far in (at most the whole image, which then draws nothing).
  const auto cut = [](int32_t start, int64_t unclipped) {
    return static_cast<int32_t>(std::clamp<int64_t>(start - unclipped, 0, INT32_MAX));
  };
  command.sourceOrigin = Point{cut(command.bounds.left, originX_ + area_.left),
                               cut(command.bounds.top, originY_ + area_.top)};
  command.image = image_.get();
  return command;
}

void TextSprite::setText(std::string_view utf8) {
  std::string text(utf8);
  noteChanged();
  adopt(render(*font_, pixelSize_, text, colour_, alignment_));
  text_ = std::move(text);
}

void TextSprite::setColour(const Colour& colour) {
  checkLock();
  requireColour(colour, "TextSprite::setColour");
  noteChanged();
  adopt(render(*font_, pixelSize_, text_, colour, alignment_));
  colour_ = colour;
}

void TextSprite::setPixelSize(uint32_t pixelSize) {
  Font::checkPixelSize(pixelSize);
  noteChanged();
  adopt(render(*font_, pixelSize, text_, colour_, alignment_));
  pixelSize_ = pixelSize;
}

void TextSprite::setAlignment(TextAlignment alignment) {
  noteChanged();
  adopt(render(*font_, pixelSize_, text_, colour_, alignment));
  alignment_ = alignment;
}

}  // namespace nubrik
