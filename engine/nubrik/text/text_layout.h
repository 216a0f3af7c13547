#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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
  TextLayout(FontFace& face, uint32_t pixelSize, TextAlignment alignment);

  // The box of the lines' advances, from ascender to descender, and of
  // every glyph's ink.
  TextBox measure(std::string_view utf8);
  // Adds the coverage of every glyph that reaches `area` into the alpha
  // bytes of `pixels` (4 bytes a pixel, alpha last, `pitch` bytes a row),
  // which show `area`; sums saturate at 255. Time and memory follow the
  // text's length and the area, not the box.
  void draw(std::string_view utf8, const TextBox& area, uint8_t* pixels, size_t pitch);

 private:
  // Runs over one line's glyphs with their pen positions (26.6, from the
  // line's start); returns where the pen ends.
  template <typename Visit>
  int64_t walkLine(std::string_view line, Visit&& visit);
  // Where a line of that pen end starts, in pixels from the origin.
  int64_t lineStart(int64_t penEnd) const;

  FontFace& face_;
  uint32_t pixelSize_;
  TextAlignment alignment_;
  LineMetrics metrics_;
};

}  // namespace nubrik
