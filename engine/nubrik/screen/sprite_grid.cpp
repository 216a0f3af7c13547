#include "nubrik/screen/sprite_grid.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace nubrik {

namespace {

// The grid levels needed along one axis: level l has cells of cell << l
// pixels, and the last has at most two, so that anything fits in two.
uint32_t levelsFor(uint64_t extent, uint64_t cell) {
  uint32_t levels = 1;
  while ((extent + (cell << (levels - 1)) - 1) / (cell << (levels - 1)) > 2) ++levels;
  return levels;
}

uint32_t cellsFor(uint64_t extent, uint64_t cell) {
  return static_cast<uint32_t>((extent + cell - 1) / cell);
}

// The first level along one axis at which [first, last] lies in at most two
// cells, and that first cell: a level's cells are 2^level finest cells.
void fit(int64_t first, int64_t last, uint64_t cell, uint32_t& level, uint64_t& firstCell,
         uint32_t& span) {
  const uint64_t low = static_cast<uint64_t>(first) / cell;
  const uint64_t high = static_cast<uint64_t>(last) / cell;
  level = 0;
  while ((high >> level) - (low >> level) > 1) ++level;
  firstCell = low >> level;
  span = static_cast<uint32_t>((high >> level) - firstCell + 1);
}

}  // namespace

SpriteGrid::SpriteGrid(uint32_t width, uint32_t height, uint32_t cellWidth, uint32_t cellHeight)
    : width_(width), height_(height), cellWidth_(cellWidth), cellHeight_(cellHeight) {
  if (width == 0 || height == 0 || cellWidth == 0 || cellHeight == 0) {
    throw std::invalid_argument("a SpriteGrid needs a surface and cells of at least one pixel");
  }
  levelsX_ = levelsFor(width, cellWidth);
  levelsY_ = levelsFor(height, cellHeight);
  if (levelsX_ > kMaxLevels || levelsY_ > kMaxLevels || cellsFor(width, cellWidth) > UINT16_MAX) {
    throw std::invalid_argument("a SpriteGrid of " + std::to_string(width) + " x " +
                                std::to_string(height) + " pixels needs larger cells than " +
                                std::to_string(cellWidth) + " x " + std::to_string(cellHeight));
  }
  levels_.resize(size_t{levelsX_} * levelsY_);
  for (uint32_t ly = 0; ly < levelsY_; ++ly) {
    for (uint32_t lx = 0; lx < levelsX_; ++lx) {
      Level& level = levels_[size_t{ly} * levelsX_ + lx];
      level.columns = cellsFor(width, uint64_t{cellWidth} << lx);
      level.rows = cellsFor(height, uint64_t{cellHeight} << ly);
      level.levelX = static_cast<uint8_t>(lx);
      level.levelY = static_cast<uint8_t>(ly);
    }
  }
  occupied_.reserve(levels_.size());
}

SpriteGrid::Placement SpriteGrid::place(const Rect& bounds) const {
  const int64_t left = std::max<int64_t>(bounds.left, 0);
  const int64_t top = std::max<int64_t>(bounds.top, 0);
  const int64_t right = std::min<int64_t>(bounds.right, width_);
  const int64_t bottom = std::min<int64_t>(bounds.bottom, height_);
  if (left >= right || top >= bottom) return {};
  uint32_t levelX, levelY, spanX, spanY;
  uint64_t cellX, cellY;
  fit(left, right - 1, cellWidth_, levelX, cellX, spanX);
  fit(top, bottom - 1, cellHeight_, levelY, cellY, spanY);
  Placement placement;
  placement.cellX = static_cast<uint16_t>(cellX);
  placement.cellY = static_cast<uint32_t>(cellY);
  placement.levels = static_cast<uint8_t>(levelX | (levelY << 4));
  placement.spans = static_cast<uint8_t>(spanX | (spanY << 2));
  return placement;
}

SpriteGrid::Level& SpriteGrid::levelOf(const Placement& placement) {
  return levels_[size_t{static_cast<uint32_t>(placement.levels >> 4)} * levelsX_ +
                 (placement.levels & 15u)];
}

template <typename Visit>
void SpriteGrid::forEachCell(const Placement& placement, Visit visit) {
  Level& level = levelOf(placement);
  for (uint32_t y = 0; y < static_cast<uint32_t>(placement.spans >> 2); ++y) {
    for (uint32_t x = 0; x < (placement.spans & 3u); ++x) {
      visit(level.cells[size_t{placement.cellY + y} * level.columns + placement.cellX + x]);
    }
  }
}

void SpriteGrid::reserve(const Placement& placement) {
  Level& level = levelOf(placement);
  if (level.cells.empty()) level.cells.resize(size_t{level.columns} * level.rows);
  forEachCell(placement, [](Cell& cell) {
    if (cell.slots.size() == cell.slots.capacity()) {
      cell.slots.reserve(std::max<size_t>(4, 2 * cell.slots.size()));
    }
  });
}

void SpriteGrid::insert(const Placement& placement, uint32_t slot, const Rect& reach,
                        const OrderKey& key, bool hider,
                        const PagedArray<OrderKey>& keys) noexcept {
  forEachCell(placement, [&](Cell& cell) {
    const auto at =
        std::lower_bound(cell.slots.begin(), cell.slots.end(), key,
                         [&](const Entry& e, const OrderKey& k) { return keys[e.slot] < k; });
    cell.slots.insert(at, Entry{slot, reach});  // never grows: reserve made room
    cell.hiders += hider;
  });
  Level& level = levelOf(placement);
  if (level.listed++ == 0) {
    occupied_.push_back(static_cast<uint32_t>(&level - levels_.data()));
  }
}

void SpriteGrid::erase(const Placement& placement, uint32_t slot, bool hider) noexcept {
  forEachCell(placement, [&](Cell& cell) {
    // A plain search: the slots lie together, where the keys would be read
    // from all over.
    const auto at = std::find_if(cell.slots.begin(), cell.slots.end(),
                                 [&](const Entry& e) { return e.slot == slot; });
    if (at != cell.slots.end()) cell.slots.erase(at);
    cell.hiders -= hider;
  });
  Level& level = levelOf(placement);
  if (--level.listed == 0) {
    const auto index = static_cast<uint32_t>(&level - levels_.data());
    occupied_.erase(std::find(occupied_.begin(), occupied_.end(), index));
  }
}

void SpriteGrid::setReach(const Placement& placement, uint32_t slot, const Rect& reach) noexcept {
  forEachCell(placement, [&](Cell& cell) {
    for (Entry& e : cell.slots) {
      if (e.slot == slot) {
        e.reach = reach;
        break;
      }
    }
  });
}

void SpriteGrid::countHider(const Placement& placement, bool hider) noexcept {
  forEachCell(placement, [&](Cell& cell) {
    if (hider) {
      ++cell.hiders;
    } else {
      --cell.hiders;
    }
  });
}

void SpriteGrid::clear() noexcept {
  for (Level& level : levels_) {
    level.cells.clear();
    level.listed = 0;
  }
  occupied_.clear();
}

size_t SpriteGrid::listsOver(uint32_t cellX, uint32_t cellY, CellList* out) const {
  size_t count = 0;
  for (uint32_t index : occupied_) {
    const Level& level = levels_[index];
    const Cell& cell =
        level.cells[size_t{cellY >> level.levelY} * level.columns + (cellX >> level.levelX)];
    if (!cell.slots.empty()) {
      out[count++] =
          CellList{cell.slots.data(), cell.slots.data() + cell.slots.size(), cell.hiders};
    }
  }
  return count;
}

}  // namespace nubrik
