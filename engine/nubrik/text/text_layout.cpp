#include "nubrik/text/text_layout.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "nubrik/text/utf8.h"

namespace nubrik {

namespace {

// 26.6 to whole pixels, halves rounded up (an arithmetic shift floors).
int64_t pixels(int64_t fixed) { return (fixed + 32) >> 6; }

TextBox unite(const TextBox& a, const TextBox& b) {
  return TextBox{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom)};
}

// Calls `line(text, index)` for each line; stops early when it returns false.
template <typename Line>
void forEachLine(std::string_view utf8, Line&& line) {
  for (int64_t index = 0;; ++index) {
    const size_t end = std::min(utf8.find('\n'), utf8.size());
    if (!line(utf8.substr(0, end), index) || end == utf8.size()) return;
    utf8.remove_prefix(end + 1);
  }
}

// to[i] = min(255, to[i] + from[i]), eight bytes at a time: glyph rows are
// mostly too short for the compiler's vector loop.
void addSaturated(uint8_t* to, const uint8_t* from, size_t count) {
  constexpr uint64_t kHigh = 0x8080808080808080u;
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, to + i, 8);
    std::memcpy(&b, from + i, 8);
    // The sum of the low seven bits of each byte, then the top bit; a byte
    // that carries out of its top bit saturates.
    const uint64_t low = (a & ~kHigh) + (b & ~kHigh);
    const uint64_t sum = low ^ ((a ^ b) & kHigh);
    const uint64_t carry = ((a & b) | ((a ^ b) & low)) & kHigh;
    const uint64_t result = sum | ((carry >> 7) * 0xFF);
    std::memcpy(to + i, &result, 8);
  }
  for (; i < count; ++i) to[i] = static_cast<uint8_t>(std::min(255, to[i] + from[i]));
}

}  // namespace

TextLayout::TextLayout(FontFace& face, uint32_t pixelSize, TextAlignment alignment)
    : face_(face),
      pixelSize_(pixelSize),
      alignment_(alignment),
      metrics_(face.lineMetrics(pixelSize)) {}

template <typename Visit>
int64_t TextLayout::walkLine(std::string_view line, Visit&& visit) {
  int64_t pen = 0;
  uint32_t previous = 0;
  bool hasPrevious = false;
  for (size_t index = 0; index < line.size();) {
    const char32_t character = decodeUtf8(line, index);
    if (character == U'\r' && index == line.size()) break;
    const uint32_t glyphIndex = face_.glyphIndex(character);
    if (hasPrevious) pen += face_.kerning(previous, glyphIndex, pixelSize_);
    const auto glyph = face_.glyph(glyphIndex, pixelSize_, false);
    visit(glyphIndex, glyph, pen);
    pen += glyph->advance;
    previous = glyphIndex;
    hasPrevious = true;
  }
  return pen;
}

int64_t TextLayout::lineStart(int64_t penEnd) const {
  const int64_t width = pixels(penEnd);
  switch (alignment_) {
    case TextAlignment::Centre:
      return -(width >> 1);
    case TextAlignment::Right:
      return -width;
    default:
      return 0;
  }
}

TextBox TextLayout::measure(std::string_view utf8, TextBox* allInk) {
  placed_.clear();
  lineStarts_.clear();
  kept_ = true;
  TextBox box;
  bool anyInk = false;
  TextBox inkBox;
  forEachLine(utf8, [&](std::string_view line, int64_t index) {
    const int64_t baseline = index * metrics_.lineHeight;
    // The line's box from its own start, moved once its width is known.
    TextBox ink{0, 0, 0, 0};
    bool inked = false;
    const int64_t end = walkLine(line, [&](uint32_t glyphIndex, const auto& entry, int64_t pen) {
      const Glyph& glyph = *entry;
      if (kept_ && placed_.size() + lineStarts_.size() < kMaxKept) {
        placed_.push_back(Placed{glyphIndex, static_cast<uint32_t>(index), pixels(pen)});
      } else {
        kept_ = false;
      }
      if (glyph.width == 0 || glyph.height == 0) return;
      const int64_t left = pixels(pen) + glyph.left;
      const int64_t top = baseline - glyph.top;
      const TextBox g{left, top, left + glyph.width, top + glyph.height};
      ink = inked ? unite(ink, g) : g;
      inked = true;
    });
    const int64_t start = lineStart(end);
    if (kept_ && placed_.size() + lineStarts_.size() < kMaxKept) {
      lineStarts_.push_back(start);
    } else {
      kept_ = false;
    }
    TextBox lineBox{start + std::min<int64_t>(0, pixels(end)), baseline - metrics_.ascender,
                    start + std::max<int64_t>(0, pixels(end)), baseline + metrics_.descender};
    if (inked) {
      const TextBox placed{start + ink.left, ink.top, start + ink.right, ink.bottom};
      lineBox = unite(lineBox, placed);
      inkBox = anyInk ? unite(inkBox, placed) : placed;
      anyInk = true;
    }
    box = index == 0 ? lineBox : unite(box, lineBox);
    return true;
  });
  if (!kept_) {
    placed_ = {};
    lineStarts_ = {};
  }
  if (allInk != nullptr) *allInk = anyInk ? inkBox : TextBox{};
  return box;
}

void TextLayout::draw(std::string_view utf8, const TextBox& area, uint8_t* coverage, size_t pitch) {
  if (area.width() <= 0 || area.height() <= 0) return;
  if (kept_) {
    for (const Placed& p : placed_) {
      const auto glyph = face_.glyph(p.glyphIndex, pixelSize_, false);
      addGlyph(p.glyphIndex, *glyph, lineStarts_[p.line] + p.pen,
               int64_t{p.line} * metrics_.lineHeight, area, coverage, pitch);
    }
    return;
  }
  const int64_t reach = FontFace::inkLimit(pixelSize_);
  forEachLine(utf8, [&](std::string_view line, int64_t index) {
    const int64_t baseline = index * metrics_.lineHeight;
    // Lines only go down: once one starts below the area, so do the rest.
    if (baseline - reach >= area.bottom && metrics_.lineHeight > 0) return false;
    if (baseline + reach <= area.top) return true;
    const int64_t start =
        alignment_ == TextAlignment::Left ? 0 : lineStart(walkLine(line, [](auto&&...) {}));
    walkLine(line, [&](uint32_t glyphIndex, const auto& entry, int64_t pen) {
      addGlyph(glyphIndex, *entry, start + pixels(pen), baseline, area, coverage, pitch);
    });
    return true;
  });
}

void TextLayout::addGlyph(uint32_t glyphIndex, const Glyph& metrics, int64_t x, int64_t baseline,
                          const TextBox& area, uint8_t* coverage, size_t pitch) {
  if (metrics.width == 0 || metrics.height == 0 || x + metrics.left >= area.right ||
      baseline - metrics.top >= area.bottom || x + metrics.left + metrics.width <= area.left ||
      baseline - metrics.top + metrics.height <= area.top) {
    return;
  }
  std::shared_ptr<const Glyph> rendered;
  const Glyph* glyph = &metrics;
  if (!metrics.rendered) {
    rendered = face_.glyph(glyphIndex, pixelSize_, true);
    glyph = rendered.get();
  }
  // Rendering may place the ink a little differently from the metrics.
  const int64_t x0 = x + glyph->left, y0 = baseline - glyph->top;
  const int64_t xs = std::max(x0, area.left);
  const int64_t width = std::min<int64_t>(x0 + glyph->width, area.right) - xs;
  const int64_t y1 = std::min<int64_t>(y0 + glyph->height, area.bottom);
  for (int64_t y = std::max(y0, area.top); y < y1 && width > 0; ++y) {
    addSaturated(
        coverage + static_cast<size_t>(y - area.top) * pitch + static_cast<size_t>(xs - area.left),
        glyph->coverage.data() + (y - y0) * glyph->width + (xs - x0), static_cast<size_t>(width));
  }
}

}  // namespace nubrik
