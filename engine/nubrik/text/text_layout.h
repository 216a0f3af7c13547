// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "nubrik/text/font_face.h"
#include "nubrik/text/text_alignment.h"

namespace nubrik {

// A box in whole pixels relative to a text's pen origin, y down; right and
// bottom exclusive. Wide enough for any text and any font.
struct TextBox {
  int64_t left = 0;
  int64_t top = 0;
  int64_t right = 0;
  int64_t bottom = 0;

  int64_t width() const { return right - left; }
  int64_t height() const { return bottom - top; }
};

// UTF-8 text in lines broken at "\n" (a "\r" before it is dropped), in one
// font at one pixel size, each line aligned on the pen origin and kerned
// where the font says so. Baselines lie a line height apart, the first one
// through the origin. Every call needs the face's mutex held.
class TextLayout {
 public:
  // Texts of up to this many glyphs and lines are walked once: measure()
  // keeps where each glyph goes for draw(). Longer ones are walked again.
  static constexpr size_t kMaxKept = 4096;

  TextLayout(FontFace& face, uint32_t pixelSize, TextAlignment alignment);

  // The box of the lines' advances, from ascender to descender, and of
  // every glyph's ink; and in `ink`, when given, the box of the ink alone
  // (all zero when there is none).
  TextBox measure(std::string_view utf8, TextBox* ink = nullptr);
  // Adds the coverage of every glyph that reaches `area` into `coverage`
  // (a byte a pixel, `pitch` bytes a row), which shows `area`; sums
  // saturate at 255. After measure() of the same text, draws from what it
  // kept. Time and memory follow the text's length and the area, not the
  // box.
  void draw(std::string_view utf8, const TextBox& area, uint8_t* coverage, size_t pitch);

 private:
  // Where a glyph's pen lies: whole pixels from its line's start.
  struct Placed {
    uint32_t glyphIndex;
    uint32_t line;
    int64_t pen;
  };

  // Runs over one line's glyphs (index, cached entry, at least its metrics)
  // with their pen positions (26.6, from the line's start); returns where
  // the pen ends.
  template <typename Visit>
  int64_t walkLine(std::string_view line, Visit&& visit);
  // Where a line of that pen end starts, in pixels from the origin.
  int64_t lineStart(int64_t penEnd) const;
  // Adds one glyph's coverage, its pen at (x, baseline) from the origin,
  // when its ink reaches the area.
  void addGlyph(uint32_t glyphIndex, const Glyph& metrics, int64_t x, int64_t baseline,
                const TextBox& area, uint8_t* coverage, size_t pitch);

  FontFace& face_;
  uint32_t pixelSize_;
  TextAlignment alignment_;
  LineMetrics metrics_;
  // What measure() kept: every glyph and every line's start, unless there
  // were more than kMaxKept of them together.
  std::vector<Placed> placed_;
  std::vector<int64_t> lineStarts_;
  bool kept_ = false;
};

}  // namespace nubrik
