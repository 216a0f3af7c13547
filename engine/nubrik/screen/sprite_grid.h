// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nubrik/base/paged_array.h"
#include "nubrik/base/rect.h"
#include "nubrik/screen/sprite_manager.h"

namespace nubrik {

// Where the compositor finds the commands that reach a piece of the surface
// without looking at the others: grids of cells at several sizes, each cell
// listing the slots of the sprites that lie in it, in drawing order.
//
// The finest grid has cells of cellWidth x cellHeight pixels; every coarser
// grid doubles the cells' width, their height, or both, so that a sprite of
// any shape (a flake, a full-height column, the background) lies in at most
// 2 x 2 cells of the grid that fits it. A sprite is listed at most four
// times, and a cell holds only sprites about as large as the cell or larger,
// so what the compositor walks stays in proportion to what it draws.
//
// The cells of a coarser grid are whole groups of finer cells: a piece of
// the surface inside one finest cell lies inside one cell of every grid.
class SpriteGrid {
 public:
  // The cells a sprite is listed in: the grid (levelX, levelY) and 1 or 2
  // cells each way from (cellX, cellY). spanX is 0 for a sprite not listed.
  struct Placement {
    uint32_t cellY = 0;
    uint16_t cellX = 0;
    uint8_t levels = 0;  // levelX in bits 0-3, levelY in bits 4-7
    uint8_t spans = 0;   // spanX in bits 0-1, spanY in bits 2-3
    bool listed() const { return spans != 0; }
    bool operator==(const Placement&) const = default;
  };

  // The most grids each way: a level is four bits of a placement.
  static constexpr uint32_t kMaxLevels = 15;
  // The most lists listsOver returns: one per grid.
  static constexpr size_t kMaxLists = kMaxLevels * kMaxLevels;

  // A slot listed in a cell, with what its command may change on the
  // surface: a piece of the surface finds the commands reaching it
  // without reading any of them.
  struct Entry {
    uint32_t slot;
    Rect reach;
  };
  // A cell's entries, in drawing order, and how many of them may hide what
  // lies below them.
  struct CellList {
    const Entry* first;
    const Entry* last;
    uint32_t hiders;
  };

  // Throws std::invalid_argument when the grid would not fit the
  // placement's fields (the surface is capped well below that).
  SpriteGrid(uint32_t width, uint32_t height, uint32_t cellWidth, uint32_t cellHeight);

  uint32_t getCellWidth() const { return cellWidth_; }
  uint32_t getCellHeight() const { return cellHeight_; }

  // The cells for a sprite covering `bounds`; not listed when it covers no
  // pixel of the surface.
  Placement place(const Rect& bounds) const;
  // Makes room in the placement's cells for one more slot: the only step
  // of listing a slot that can fail.
  void reserve(const Placement& placement);
  // Lists `slot`, whose key is `key` and whose command reaches `reach`, in
  // the placement's cells; the other slots' keys are keys[slot]. Call
  // reserve first.
  void insert(const Placement& placement, uint32_t slot, const Rect& reach, const OrderKey& key,
              bool hider, const PagedArray<OrderKey>& keys) noexcept;
  // A listed slot whose command now reaches `reach`.
  void setReach(const Placement& placement, uint32_t slot, const Rect& reach) noexcept;
  // Takes `slot`, listed with `hider`, out of the placement's cells.
  void erase(const Placement& placement, uint32_t slot, bool hider) noexcept;
  // A listed slot that became or stopped being a possible hider.
  void countHider(const Placement& placement, bool hider) noexcept;
  // Empties every cell.
  void clear() noexcept;

  // The non-empty lists of the cells over the finest cell (cellX, cellY);
  // writes at most kMaxLists into `out` and returns how many.
  size_t listsOver(uint32_t cellX, uint32_t cellY, CellList* out) const;

 private:
  struct Cell {
    std::vector<Entry> slots;
    uint32_t hiders = 0;
  };
  struct Level {
    uint32_t columns = 0;
    uint32_t rows = 0;
    uint8_t levelX = 0;
    uint8_t levelY = 0;
    uint64_t listed = 0;
    std::vector<Cell> cells;  // allocated when first used
  };

  Level& levelOf(const Placement& placement);
  template <typename Visit>
  void forEachCell(const Placement& placement, Visit visit);

  uint32_t width_;
  uint32_t height_;
  uint32_t cellWidth_;
  uint32_t cellHeight_;
  uint32_t levelsX_ = 0;
  uint32_t levelsY_ = 0;
  std::vector<Level> levels_;  // levelY * levelsX_ + levelX
  // The levels with listed slots, which are all a piece must look at.
  std::vector<uint32_t> occupied_;
};

}  // namespace nubrik
