#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/screen/band_damage.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/sprite_owners.h"

namespace nubrik {

class SpriteManager;

// The band compositor. The surface is cut into horizontal bands of
// `bandHeight` rows (the last may be shorter); each band keeps a few disjoint
// rectangles of what was invalidated in it since the last frame. A frame
// collects one command per visible sprite and sorts the commands into the
// bands they reach, so that composing a band replays only its own commands,
// and only inside its rectangles.
//
// What no command covers is composed as if drawn onto a cleared surface:
// pixel value 0.
//
// invalidateRect, isDirty, prepareFrame and finishFrame run under the Screen's
// scene lock; drawBand and the accessors run on the composing threads,
// concurrently, between prepareFrame and finishFrame only.
class SpriteDrawer final : public IRedrawTarget {
 public:
  // Throws std::invalid_argument when width, height or the band height is 0.
  SpriteDrawer(uint32_t width, uint32_t height, uint32_t requestedBandHeight,
               std::weak_ptr<SpriteManager> manager);
  ~SpriteDrawer() override = default;
  SpriteDrawer(const SpriteDrawer&) = delete;
  SpriteDrawer& operator=(const SpriteDrawer&) = delete;

  uint32_t getWidth() const { return width_; }
  uint32_t getHeight() const { return height_; }
  uint32_t getBandHeight() const { return bandHeight_; }
  uint32_t getBandCount() const { return static_cast<uint32_t>(damage_.size()); }
  // The bounding box of the band's rectangles in surface coordinates; empty
  // when nothing is to be redrawn there (or the band does not exist).
  Rect getBandRegion(uint32_t band) const;
  // The rectangles to redraw in band `band` (surface coordinates, disjoint).
  const BandDamage& getBandDamage(uint32_t band) const { return damage_.at(band); }
  // The bands with something to redraw, in increasing order (valid from
  // prepareFrame to finishFrame).
  const std::vector<uint32_t>& getDirtyBands() const { return dirtyBands_; }

  // Marks `rect` (surface coordinates) for redrawing. An empty rectangle
  // marks the whole surface; one outside the surface, or covering no pixel,
  // marks nothing. Costs in proportion to the bands it reaches.
  void invalidateRect(const Rect& rect) override;
  bool isDirty() const { return dirty_; }

  void prepareFrame();
  // Composes every rectangle of band `band` into `target` (as wide as the
  // surface, at least bandHeight rows; the band's first row is the target's
  // first), writing only inside those rectangles.
  void drawBand(uint32_t band, IImage& target) const;
  void finishFrame();

  // The frame's commands: those of the visible sprites that reach a band
  // with something to redraw, in drawing order.
  const std::vector<DrawCommand>& getCommands() const { return commands_; }

 private:
  struct BandRange {
    uint32_t first;
    uint32_t last;
  };
  // The bands `bounds` reaches; false when it covers no pixel of the surface.
  bool bandRange(const Rect& bounds, BandRange& range) const;
  void sortCommandsIntoBands();

  std::weak_ptr<SpriteManager> manager_;
  uint32_t width_;
  uint32_t height_;
  uint32_t bandHeight_;
  std::vector<BandDamage> damage_;
  std::vector<uint32_t> dirtyBands_;
  bool dirty_ = false;
  std::vector<DrawCommand> commands_;
  // The frame's commands by band: band b's are bandCommands_[bandStart_[b]]
  // up to bandCommands_[bandStart_[b + 1]], in drawing order. Only bands
  // with something to redraw have any.
  std::vector<uint32_t> bandStart_;
  std::vector<uint32_t> dirtyBefore_;
  std::vector<uint32_t> bandCommands_;
};

}  // namespace nubrik
