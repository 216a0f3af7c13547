#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "nubrik/base/rect.h"

namespace nubrik {

class FontFace;

// A TrueType or OpenType font, drawn at any pixel size from kMinPixelSize to
// kMaxPixelSize. Every size of a font shares one glyph cache, bounded in
// bytes (least recently used glyphs go first). A font may be used by any
// number of sprites, Screens and threads at once.
class Font {
 public:
  static constexpr uint32_t kMinPixelSize = 1;
  static constexpr uint32_t kMaxPixelSize = 1024;
  // Larger font files are refused before they are read.
  static constexpr size_t kMaxFileBytes = size_t{256} << 20;
  static constexpr size_t kDefaultGlyphCacheBytes = size_t{16} << 20;
  // The default font's file name; see defaultFont().
  static constexpr char kDefaultFontFile[] = "DejaVuSans.ttf";

  // Reads the font file at `path` into memory (the file may go afterwards).
  // Throws IoException naming the file and the reason when it is missing or
  // unreadable (the template of the failed call: "CreateFileA API failed",
  // "ReadFile API failed"...), or larger than kMaxFileBytes, damaged or not
  // a scalable font with a Unicode character map ("Invalid file format"; an
  // empty file is called empty), and std::invalid_argument naming the path
  // when it holds a NUL character.
  static std::shared_ptr<Font> fromFile(const std::string& path);
  // The same for `size` bytes at `bytes`, which the font copies. Throws
  // std::invalid_argument when `bytes` is null while `size` is not 0.
  static std::shared_ptr<Font> fromMemory(const uint8_t* bytes, size_t size);
  // The font for programs that bring none: the first kDefaultFontFile found
  // in the running program's folder, then in the working directory, then
  // (outside Windows) in /usr/share/fonts/truetype/dejavu, where Debian's
  // fonts-dejavu-core puts it. The build copies it beside its programs.
  // Throws IoException naming the places looked at when none has it, and as
  // fromFile does for a file that cannot be loaded.
  static std::shared_ptr<Font> defaultFont();

  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // The box `utf8` covers when drawn left-aligned at `pixelSize`, relative to
  // the pen's start on the first baseline (y grows down): every line's
  // advance from its ascender to its descender, and every glyph's ink.
  // Lines break at "\n"; each invalid byte counts as U+FFFD. Throws
  // std::invalid_argument for a size outside the range.
  Rect measureText(std::string_view utf8, uint32_t pixelSize) const;

  std::string getFamilyName() const;

  // The glyph cache's bound in bytes, and what it holds now.
  void setGlyphCacheLimit(size_t bytes);
  size_t getGlyphCacheBytes() const;

  // Throws std::invalid_argument naming `pixelSize` and the range when it
  // lies outside it.
  static void checkPixelSize(uint32_t pixelSize);

  // FreeType's face behind the font, for the engine's text layout.
  FontFace& face() const { return *face_; }

 private:
  explicit Font(std::unique_ptr<FontFace> face);

  std::unique_ptr<FontFace> face_;
};

}  // namespace nubrik
