// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

namespace nubrik {

// One glyph at one pixel size: where its ink lies relative to the pen on the
// baseline, how far it moves the pen, and, once rendered, its coverage.
struct Glyph {
  int64_t advance = 0;  // 26.6 fixed point
  int32_t left = 0;     // ink's left edge, right of the pen
  int32_t top = 0;      // ink's top edge, above the baseline
  uint32_t width = 0;
  uint32_t height = 0;
  // True when `coverage` holds the ink: width x height bytes, rows packed.
  bool rendered = false;
  std::vector<uint8_t> coverage;
};

// Glyphs by pixel size and glyph index, least recently used dropped first
// once the bytes they hold pass the limit. Handles given out stay valid after
// their entry is dropped. Not locked: its font serialises every use.
class GlyphCache {
 public:
  explicit GlyphCache(size_t limitBytes) : limit_(limitBytes) {}

  // The cached glyph, now the most recently used; null when absent.
  std::shared_ptr<const Glyph> find(uint32_t pixelSize, uint32_t glyphIndex);
  // Adds or replaces an entry, then drops the least recently used ones
  // beyond the limit. A glyph larger than the whole limit is not kept.
  void insert(uint32_t pixelSize, uint32_t glyphIndex, std::shared_ptr<const Glyph> glyph);

  void setLimit(size_t limitBytes);
  size_t limit() const { return limit_; }
  // What the entries hold, their bookkeeping included.
  size_t bytes() const { return bytes_; }
  size_t size() const { return index_.size(); }

 private:
  using Key = uint64_t;
  struct Entry {
    Key key;
    std::shared_ptr<const Glyph> glyph;
    size_t bytes;
  };

  void erase(std::list<Entry>::iterator entry);
  void trim();

  size_t limit_;
  size_t bytes_ = 0;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator> index_;
};

}  // namespace nubrik
