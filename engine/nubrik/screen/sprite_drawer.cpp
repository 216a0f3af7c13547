#include "nubrik/screen/sprite_drawer.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "nubrik/base/scene_guard.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/fill_blitters.h"

namespace nubrik {

namespace {

// The finest cells of the sprite index: a few blitter calls' worth of
// pixels, and whole bands high, so that every piece of a band lies in one.
// On very large surfaces they grow, so that the grid stays within 16384
// cells either way.
constexpr uint32_t kCellWidth = 256;
constexpr uint32_t kCellRows = 8;
constexpr uint64_t kMaxCells = 16384;

uint32_t checkedBandHeight(uint32_t width, uint32_t height, uint32_t requested) {
  constexpr uint32_t kMaxExtent = INT32_MAX;  // surface coordinates are signed 32-bit
  const uint32_t bandHeight = std::min(requested, height);
  if (width == 0 || height == 0 || bandHeight == 0 || width > kMaxExtent || height > kMaxExtent) {
    throw std::invalid_argument("a SpriteDrawer needs a surface and bands of at least one row");
  }
  return bandHeight;
}

uint32_t cellWidthFor(uint32_t width) {
  return static_cast<uint32_t>(
      std::max<uint64_t>(std::min(kCellWidth, width), (width + kMaxCells - 1) / kMaxCells));
}

uint32_t cellHeightFor(uint32_t height, uint32_t bandHeight) {
  const uint64_t bands = (uint64_t{height} + bandHeight - 1) / bandHeight;
  const uint64_t perCell = std::max<uint64_t>((kCellRows + bandHeight - 1) / bandHeight,
                                              (bands + kMaxCells - 1) / kMaxCells);
  return static_cast<uint32_t>(std::min<uint64_t>(perCell * bandHeight, height));
}

// A command that may hide what lies below it; hidesBelow says where.
bool mayHide(const DrawCommand& command) {
  return command.blendMode == BlendMode::Normal && command.opacity == 255;
}

}  // namespace

SpriteDrawer::SpriteDrawer(uint32_t width, uint32_t height, uint32_t requestedBandHeight,
                           std::weak_ptr<SpriteManager> manager,
                           std::shared_ptr<const SceneGuard> guard)
    : manager_(std::move(manager)),
      guard_(std::move(guard)),
      width_(width),
      height_(height),
      bandHeight_(checkedBandHeight(width, height, requestedBandHeight)),
      grid_(width, height, cellWidthFor(width), cellHeightFor(height, bandHeight_)) {
  const uint64_t bands = (uint64_t{height} + bandHeight_ - 1) / bandHeight_;
  damage_.resize(bands);
  dirtyBands_.reserve(bands);
}

void SpriteDrawer::resize(uint32_t width, uint32_t height, uint32_t requestedBandHeight) {
  checkScene(guard_.get());
  const uint32_t bandHeight = checkedBandHeight(width, height, requestedBandHeight);
  SpriteGrid grid(width, height, cellWidthFor(width), cellHeightFor(height, bandHeight));
  const uint64_t bands = (uint64_t{height} + bandHeight - 1) / bandHeight;
  std::vector<BandDamage> damage(bands);
  std::vector<uint32_t> dirtyBands;
  dirtyBands.reserve(bands);

  width_ = width;
  height_ = height;
  bandHeight_ = bandHeight;
  grid_ = std::move(grid);
  damage_.swap(damage);
  dirtyBands_.swap(dirtyBands);
  listings_.clear();
  keys_.clear();
  listed_ = 0;
  relistAll_ = true;
  dirty_ = false;
  mark(0, 0, width_, height_);
}

Rect SpriteDrawer::getBandRegion(uint32_t band) const {
  return band < damage_.size() ? damage_[band].bounds() : Rect{};
}

void SpriteDrawer::invalidateRect(const Rect& rect) {
  checkScene(guard_.get());
  if (rect.isEmpty()) {
    mark(0, 0, width_, height_);
    return;
  }
  // Outside, touching, or inverted: nothing on the surface to redraw.
  mark(std::max<int64_t>(rect.left, 0), std::max<int64_t>(rect.top, 0),
       std::min<int64_t>(rect.right, width_), std::min<int64_t>(rect.bottom, height_));
}

void SpriteDrawer::invalidateAll() {
  checkScene(guard_.get());
  mark(0, 0, width_, height_);
}

void SpriteDrawer::mark(int64_t left, int64_t top, int64_t right, int64_t bottom) {
  if (left >= right || top >= bottom) return;
  const uint64_t first = static_cast<uint64_t>(top) / bandHeight_;
  const uint64_t last = static_cast<uint64_t>(bottom - 1) / bandHeight_;
  for (uint64_t band = first; band <= last; ++band) {
    const int64_t bandTop = static_cast<int64_t>(band * bandHeight_);
    const Rect part{static_cast<int32_t>(left), static_cast<int32_t>(std::max(top, bandTop)),
                    static_cast<int32_t>(right),
                    static_cast<int32_t>(std::min<int64_t>(bottom, bandTop + bandHeight_))};
    BandDamage& damage = damage_[band];
    // Never grows: reserved for every band.
    if (damage.empty()) dirtyBands_.push_back(static_cast<uint32_t>(band));
    damage.add(part);
  }
  dirty_ = true;
}

void SpriteDrawer::prepareFrame() {
  if (!dirty_) return;
  const std::shared_ptr<SpriteManager> manager = manager_.lock();
  if (!manager) {
    // The sprites went with their registry; so do their commands.
    forget();
  } else {
    manager->sortIfDirty();
    if (listings_.size() < manager->slotCount()) {
      listings_.resize(manager->slotCount());
      keys_.resize(manager->slotCount());
    }
    if (relistAll_) {
      for (uint32_t slot = 0; slot < manager->slotCount(); ++slot) refresh(*manager, slot);
      relistAll_ = false;
    }
    const std::vector<uint32_t>& pending = manager->pendingSlots();
    size_t done = 0;
    try {
      for (; done < pending.size(); ++done) refresh(*manager, pending[done]);
    } catch (...) {
      manager->takePending(done);
      throw;
    }
    manager->takePending(done);
    for (uint32_t slot : manager->silentSlots()) refresh(*manager, slot);
  }
  std::sort(dirtyBands_.begin(), dirtyBands_.end());
}

void SpriteDrawer::refresh(const SpriteManager& manager, uint32_t slot) {
  Listing& listing = listings_[slot];
  ISprite* sprite = manager.spriteAt(slot);
  DrawCommand command;
  SpriteGrid::Placement placement;
  OrderKey key;
  if (sprite != nullptr && sprite->isVisible()) {
    command = sprite->getDrawCommand();
    placement = grid_.place(command.bounds);
    key = manager.orderKeyAt(slot);
  }
  const bool hider = mayHide(command);
  const bool wasHider = mayHide(listing.command);
  const bool stays =
      listing.placement.listed() && placement == listing.placement && key == keys_[slot];
  // Nothing changes before the one step that can fail.
  if (placement.listed() && !stays) grid_.reserve(placement);

  if (stays) {
    if (hider != wasHider) grid_.countHider(placement, hider);
  } else {
    if (listing.placement.listed()) {
      grid_.erase(listing.placement, slot, wasHider);
      --listed_;
    }
    keys_[slot] = key;
    if (placement.listed()) {
      grid_.insert(placement, slot, key, hider, keys_);
      ++listed_;
    }
  }
  listing.command = command;
  listing.placement = placement;
}

void SpriteDrawer::forget() {
  grid_.clear();
  listings_.clear();
  keys_.clear();
  listed_ = 0;
}

void SpriteDrawer::drawBand(uint32_t band, IImage& target) const {
  if (!dirty_ || band >= damage_.size()) return;
  const uint64_t top = uint64_t{band} * bandHeight_;
  const auto bandTop = static_cast<int32_t>(top);
  const auto cellY = static_cast<uint32_t>(top / grid_.getCellHeight());
  const uint32_t cellWidth = grid_.getCellWidth();
  // The lists over the finest cell the pieces lie in, found again only when
  // the pieces, from left to right, reach the next cell.
  SpriteGrid::CellList lists[kMaxLists];
  size_t count = 0;
  uint32_t listed = UINT32_MAX;
  for (const Rect& r : damage_[band]) {
    // Pieces that each lie in one cell of the index.
    for (int32_t left = r.left; left < r.right;) {
      const uint32_t cellX = static_cast<uint32_t>(left) / cellWidth;
      const int32_t right =
          static_cast<int32_t>(std::min<int64_t>(r.right, int64_t{cellX + 1} * cellWidth));
      if (cellX != listed) {
        count = grid_.listsOver(cellX, cellY, lists);
        listed = cellX;
      }
      composePiece(Rect{left, r.top, right, r.bottom}, lists, count, bandTop, target);
      left = right;
    }
  }
}

void SpriteDrawer::composePiece(const Rect& piece, const SpriteGrid::CellList* cellLists,
                                size_t count, int32_t bandTop, IImage& target) const {
  // Drawing starts at the topmost command that hides everything below it
  // here; without one, the piece starts cleared.
  bool hidden = false;
  OrderKey start;
  for (size_t i = 0; i < count; ++i) {
    if (cellLists[i].hiders == 0) continue;
    for (const uint32_t* s = cellLists[i].last; s != cellLists[i].first;) {
      const uint32_t slot = *--s;
      if (hidden && keys_[slot] < start) break;
      if (mayHide(listings_[slot].command) && hidesBelow(listings_[slot].command, piece)) {
        hidden = true;
        start = keys_[slot];
        break;
      }
    }
  }
  const BandClip clip{Rect{piece.left, piece.top - bandTop, piece.right, piece.bottom - bandTop}, 0,
                      -bandTop};
  if (!hidden) {
    fillRect(target, &clip, BlendMode::Normal, piece, Colour{PixelFormat::Rgb, {0, 0, 0, 0}}, 255);
  }
  // Each list from its first command at or above the start that reaches the
  // piece; lists with none drop out, so that the merge below mostly walks
  // one or two lists.
  auto reaches = [&](uint32_t slot) { return overlaps(listings_[slot].command.bounds, piece); };
  auto skip = [&](SpriteGrid::CellList& list) {
    while (list.first != list.last && !reaches(*list.first)) ++list.first;
  };
  SpriteGrid::CellList lists[kMaxLists];
  size_t active = 0;
  for (size_t i = 0; i < count; ++i) {
    SpriteGrid::CellList list = cellLists[i];
    if (hidden && keys_[*list.first] < start) {
      list.first = std::lower_bound(list.first, list.last, start,
                                    [&](uint32_t s, const OrderKey& k) { return keys_[s] < k; });
    }
    skip(list);
    if (list.first != list.last) lists[active++] = list;
  }
  // The lists merged in drawing order.
  while (active > 0) {
    size_t next = 0;
    for (size_t i = 1; i < active; ++i) {
      if (keys_[*lists[i].first] < keys_[*lists[next].first]) next = i;
    }
    drawCommand(target, clip, listings_[*lists[next].first++].command);
    skip(lists[next]);
    if (lists[next].first == lists[next].last) lists[next] = lists[--active];
  }
}

void SpriteDrawer::finishFrame() { finishFrame({}); }

void SpriteDrawer::finishFrame(const std::vector<uint32_t>& keep) {
  if (!dirty_) return;
  // Both lists are in increasing order: the kept bands stay at the front.
  size_t kept = 0;
  auto wanted = keep.begin();
  for (uint32_t band : dirtyBands_) {
    while (wanted != keep.end() && *wanted < band) ++wanted;
    if (wanted != keep.end() && *wanted == band) {
      dirtyBands_[kept++] = band;
    } else {
      damage_[band].clear();
    }
  }
  dirtyBands_.resize(kept);
  dirty_ = kept != 0;
}

}  // namespace nubrik
