#pragma once

// Text laid out and rendered with FreeType directly, glyph by glyph, as its
// own documentation describes: the model the engine's text is checked by.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "nubrik/text/text_alignment.h"

namespace nubrik::reference {

struct RenderedText {
  int64_t left = 0, top = 0, right = 0, bottom = 0;  // from the pen origin
  std::vector<uint8_t> coverage;                     // the box, rows packed
  // The ink alone, all zero without any.
  int64_t inkLeft = 0, inkTop = 0, inkRight = 0, inkBottom = 0;

  uint8_t at(int64_t x, int64_t y) const {
    return coverage[static_cast<size_t>((y - top) * (right - left) + (x - left))];
  }
};

class FreeTypeText {
 public:
  explicit FreeTypeText(const std::string& path) {
    if (FT_Init_FreeType(&library_) != 0 || FT_New_Face(library_, path.c_str(), 0, &face_) != 0) {
      throw std::runtime_error("FreeType cannot open " + path);
    }
  }
  ~FreeTypeText() {
    FT_Done_Face(face_);
    FT_Done_FreeType(library_);
  }
  FT_Face face() const { return face_; }

  RenderedText render(const std::u32string& text, uint32_t pixelSize, TextAlignment alignment) {
    FT_Set_Pixel_Sizes(face_, 0, pixelSize);
    const FT_Size_Metrics& m = face_->size->metrics;
    const int64_t ascender = (m.ascender + 63) / 64, descender = (-m.descender + 63) / 64;
    const int64_t lineHeight = (m.height + 32) / 64;
    struct Ink {
      int64_t x, y;
      uint32_t width, rows;
      std::vector<uint8_t> bytes;
    };
    std::vector<Ink> inks;
    RenderedText out;
    bool first = true;
    const auto include = [&](int64_t l, int64_t t, int64_t r, int64_t b) {
      out.left = first ? l : std::min(out.left, l);
      out.top = first ? t : std::min(out.top, t);
      out.right = first ? r : std::max(out.right, r);
      out.bottom = first ? b : std::max(out.bottom, b);
      first = false;
    };
    int64_t baseline = 0;
    for (size_t begin = 0;; baseline += lineHeight) {
      const size_t end = std::min(text.find(U'\n', begin), text.size());
      std::vector<Ink> line;
      int64_t pen = 0;  // 26.6
      FT_UInt previous = 0;
      for (size_t i = begin; i < end; ++i) {
        const FT_UInt glyph = FT_Get_Char_Index(face_, text[i]);
        if (i > begin) {
          FT_Vector kerning{};
          FT_Get_Kerning(face_, previous, glyph, FT_KERNING_DEFAULT, &kerning);
          pen += kerning.x;
        }
        FT_Load_Glyph(face_, glyph, FT_LOAD_RENDER | FT_LOAD_NO_BITMAP);
        const FT_GlyphSlot slot = face_->glyph;
        Ink ink{(pen + 32) / 64 + slot->bitmap_left,
                baseline - slot->bitmap_top,
                slot->bitmap.width,
                slot->bitmap.rows,
                {}};
        for (uint32_t r = 0; r < ink.rows; ++r) {
          const uint8_t* row = slot->bitmap.buffer + r * slot->bitmap.pitch;
          ink.bytes.insert(ink.bytes.end(), row, row + ink.width);
        }
        if (ink.width > 0 && ink.rows > 0) line.push_back(std::move(ink));
        pen += slot->advance.x;
        previous = glyph;
      }
      const int64_t width = (pen + 32) / 64;
      const int64_t start = alignment == TextAlignment::Left     ? 0
                            : alignment == TextAlignment::Centre ? -(width / 2)
                                                                 : -width;
      include(start, baseline - ascender, start + width, baseline + descender);
      for (Ink& ink : line) {
        ink.x += start;
        include(ink.x, ink.y, ink.x + ink.width, ink.y + ink.rows);
        const bool firstInk = inks.empty();
        out.inkLeft = firstInk ? ink.x : std::min(out.inkLeft, ink.x);
        out.inkTop = firstInk ? ink.y : std::min(out.inkTop, ink.y);
        out.inkRight =
            firstInk ? ink.x + ink.width : std::max<int64_t>(out.inkRight, ink.x + ink.width);
        out.inkBottom =
            firstInk ? ink.y + ink.rows : std::max<int64_t>(out.inkBottom, ink.y + ink.rows);
        inks.push_back(std::move(ink));
      }
      if (end == text.size()) break;
      begin = end + 1;
    }
    out.coverage.assign(static_cast<size_t>((out.right - out.left) * (out.bottom - out.top)), 0);
    for (const Ink& ink : inks) {
      for (uint32_t r = 0; r < ink.rows; ++r) {
        for (uint32_t c = 0; c < ink.width; ++c) {
          uint8_t& to = out.coverage[static_cast<size_t>(
              (ink.y + r - out.top) * (out.right - out.left) + (ink.x + c - out.left))];
          to = static_cast<uint8_t>(std::min(255, to + ink.bytes[r * ink.width + c]));
        }
      }
    }
    return out;
  }

 private:
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
};

}  // namespace nubrik::reference
