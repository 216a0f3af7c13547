#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/sprite/sprite.h"
#include "nubrik/sprite/sprite_owners.h"

namespace nubrik {

class SpriteManager;

// The band compositor. The surface is cut into horizontal bands of
// `bandHeight` rows (the last may be shorter); each band keeps the bounding
// box of what was invalidated in it since the last frame. A frame collects one
// command per visible sprite, then every band with a region is composed by
// replaying the commands clipped to that region.
//
// invalidateRect, isDirty, prepareFrame and finishFrame run under the Screen's
// scene lock; drawBand and the accessors run on workers, concurrently, between
// prepareFrame and finishFrame only.
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
  uint32_t getBandCount() const { return static_cast<uint32_t>(bandRegions_.size()); }
  // The band's region in surface coordinates; empty when nothing is to be
  // redrawn there (or the band does not exist).
  Rect getBandRegion(uint32_t band) const;

  // Marks `rect` (surface coordinates) for redrawing. An empty rectangle
  // marks the whole surface; one outside the surface, or covering no pixel,
  // marks nothing.
  void invalidateRect(const Rect& rect) override;
  bool isDirty() const { return dirty_; }

  void prepareFrame();
  // Composes band `band` into `target` (as wide as the surface, at least
  // bandHeight rows), writing only inside the band's region.
  void drawBand(uint32_t band, IImage& target) const;
  void finishFrame();

  const std::vector<DrawCommand>& getCommands() const { return commands_; }

  // Whether drawBand skips commands whose bounds miss the band's region. The
  // pixels are the same either way; skipping only saves the blitters' setup.
  void setCulling(bool culling) { culling_ = culling; }

 private:
  std::weak_ptr<SpriteManager> manager_;
  uint32_t width_;
  uint32_t height_;
  uint32_t bandHeight_;
  std::vector<Rect> bandRegions_;
  bool dirty_ = false;
  bool culling_ = true;
  std::vector<DrawCommand> commands_;
};

}  // namespace nubrik
