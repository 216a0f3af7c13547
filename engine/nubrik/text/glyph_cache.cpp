#include "nubrik/text/glyph_cache.h"

#include <utility>

namespace nubrik {

namespace {

uint64_t keyOf(uint32_t pixelSize, uint32_t glyphIndex) {
  return (uint64_t{pixelSize} << 32) | glyphIndex;
}

// A list node, a map node and the glyph record besides the coverage.
constexpr size_t kEntryOverhead = sizeof(Glyph) + 96;

size_t costOf(const Glyph& glyph) { return kEntryOverhead + glyph.coverage.capacity(); }

}  // namespace

std::shared_ptr<const Glyph> GlyphCache::find(uint32_t pixelSize, uint32_t glyphIndex) {
  const auto found = index_.find(keyOf(pixelSize, glyphIndex));
  if (found == index_.end()) return nullptr;
  order_.splice(order_.begin(), order_, found->second);
  return found->second->glyph;
}

void GlyphCache::insert(uint32_t pixelSize, uint32_t glyphIndex,
                        std::shared_ptr<const Glyph> glyph) {
  const Key key = keyOf(pixelSize, glyphIndex);
  if (const auto found = index_.find(key); found != index_.end()) erase(found->second);
  const size_t cost = costOf(*glyph);
  if (cost > limit_) return;
  order_.push_front(Entry{key, std::move(glyph), cost});
  index_.emplace(key, order_.begin());
  bytes_ += cost;
  trim();
}

void GlyphCache::setLimit(size_t limitBytes) {
  limit_ = limitBytes;
  trim();
}

void GlyphCache::erase(std::list<Entry>::iterator entry) {
  bytes_ -= entry->bytes;
  index_.erase(entry->key);
  order_.erase(entry);
}

void GlyphCache::trim() {
  while (bytes_ > limit_) erase(std::prev(order_.end()));
}

}  // namespace nubrik
