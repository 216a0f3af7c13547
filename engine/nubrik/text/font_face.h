// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "nubrik/text/glyph_cache.h"

namespace nubrik {

// Why a font cannot be used, in words for a message.
class FontError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A line's vertical extent in whole pixels.
struct LineMetrics {
  int32_t ascender = 0;    // above the baseline
  int32_t descender = 0;   // below it
  int32_t lineHeight = 0;  // from one baseline to the next
};

// One FreeType face over its own copy of the font bytes, in a FreeType
// library of its own whose allocations are capped, with the glyph cache of
// every size. FreeType faces are not thread-safe: every call but the
// constructor needs mutex() held.
class FontFace {
 public:
  // FreeType's own allocations for one font stop here: a font that lies
  // about its tables fails to load a glyph instead of taking the machine.
  static constexpr size_t kMaxFreeTypeBytes = size_t{64} << 20;
  // Character and kerning lookups kept, of each.
  static constexpr size_t kMaxKeptAnswers = 1 << 16;

  // Throws FontError for bytes that are not a scalable font with a Unicode
  // character map whose missing-glyph box can be read.
  FontFace(std::vector<uint8_t> bytes, size_t cacheLimitBytes);
  ~FontFace();
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  std::mutex& mutex() const { return mutex_; }

  std::string familyName() const;
  LineMetrics lineMetrics(uint32_t pixelSize);
  // 0, the missing-glyph box, for a character the font lacks.
  uint32_t glyphIndex(char32_t character);
  // The pen adjustment between two glyphs, 26.6 fixed point.
  int64_t kerning(uint32_t leftGlyph, uint32_t rightGlyph, uint32_t pixelSize);
  // A glyph's metrics and, when `rendered`, its coverage. A glyph that
  // cannot be read is drawn as the missing-glyph box; ink farther than
  // inkLimit from the pen is treated as damage and not drawn.
  std::shared_ptr<const Glyph> glyph(uint32_t glyphIndex, uint32_t pixelSize, bool rendered);

  GlyphCache& cache() { return cache_; }

  // How far a glyph's ink and advance may reach from its pen position.
  static int64_t inkLimit(uint32_t pixelSize) { return int64_t{pixelSize} * 4 + 16; }

 private:
  struct FreeType;

  bool setPixelSize(uint32_t pixelSize);
  std::shared_ptr<Glyph> load(uint32_t glyphIndex, uint32_t pixelSize, bool rendered);

  std::vector<uint8_t> bytes_;  // FreeType reads the font from here: declared first, gone last
  std::unique_ptr<FreeType> freeType_;
  uint32_t pixelSize_ = 0;  // the size the face is set to; 0 for none
  bool pixelSizeFailed_ = false;
  bool hasKerning_ = false;
  GlyphCache cache_;
  // FreeType's answers kept: its lookups walk tables that a frame has
  // pushed out of the processor's caches. Emptied when they grow large.
  std::unordered_map<char32_t, uint32_t> glyphIndices_;
  std::unordered_map<uint64_t, int64_t> kernings_;
  mutable std::mutex mutex_;
};

}  // namespace nubrik
