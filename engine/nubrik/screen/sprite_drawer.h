// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "nubrik/base/paged_array.h"
#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/screen/band_bins.h"
#include "nubrik/screen/band_damage.h"
#include "nubrik/screen/draw_order.h"
#include "nubrik/screen/sprite_grid.h"
#include "nubrik/sprite/draw_command.h"
#include "nubrik/sprite/prepared_command.h"
#include "nubrik/sprite/sprite_owners.h"

namespace nubrik {

class SceneGuard;
class SpriteManager;

// The band compositor. The surface is cut into horizontal bands of
// `bandHeight` rows (the last may be shorter); each band keeps the
// rectangles of what was invalidated in it since the last frame.
//
// The drawer keeps every visible sprite's draw command from frame to frame,
// listed in a grid of cells by where it lies (SpriteGrid), and reads a
// sprite again only when the registry says it changed: preparing a frame
// costs in proportion to what changed, not to what stands still. Composing
// a rectangle replays, in drawing order, only the commands listed over it,
// from the topmost one that hides everything below it there.
//
// A band most of which is to be redrawn is redrawn whole. When much of the
// surface changed (many sprites moved), the frame is composed from bins
// instead of the index: one walk of the drawing order gathers the sprites
// reaching each group of a few bands, and consecutive whole bands of a
// group are composed as one region (a run), so that a sprite crossing
// their borders is drawn once.
//
// What no command covers is composed as if drawn onto a cleared surface:
// pixel value 0.
//
// invalidateRect, isDirty, prepareFrame and finishFrame run under the Screen's
// scene lock; drawBand and the accessors run on the composing threads,
// concurrently, between prepareFrame and finishFrame only.
class SpriteDrawer final : public IRedrawTarget {
 public:
  // Throws std::invalid_argument when width, height or the band height is 0,
  // or the surface is larger than 2^31 - 1 pixels either way.
  SpriteDrawer(uint32_t width, uint32_t height, uint32_t requestedBandHeight,
               std::weak_ptr<SpriteManager> manager,
               std::shared_ptr<const SceneGuard> guard = nullptr);
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
  // The rectangles to redraw in band `band` (surface coordinates, disjoint,
  // from left to right).
  const BandDamage& getBandDamage(uint32_t band) const { return damage_.at(band); }
  // The bands with something to redraw, in increasing order (valid from
  // prepareFrame to finishFrame).
  const std::vector<uint32_t>& getDirtyBands() const { return dirtyBands_; }

  // Consecutive dirty bands composed as one region: `count` bands from
  // `first`, each of them whole when there are several.
  struct BandRun {
    uint32_t first = 0;
    uint32_t count = 1;
  };
  // The dirty bands as runs, in increasing order, covering each dirty band
  // once (valid from prepareFrame to finishFrame).
  const std::vector<BandRun>& getDirtyRuns() const { return dirtyRuns_; }

  // How frames are composed: chosen per frame by how much changed (the
  // default), or always from the index or from bins (to test each way).
  enum class Composition { Measured, Indexed, Binned };
  void setComposition(Composition composition) { composition_ = composition; }

  // Marks `rect` (surface coordinates) for redrawing. An empty rectangle
  // marks the whole surface; one outside the surface, or covering no pixel,
  // marks nothing. Costs in proportion to the bands it reaches.
  void invalidateRect(const Rect& rect) override;
  void invalidateAll();
  // Whether a frame has anything to do: something is marked, or some
  // sprite reported a change (which redraws where it was and where it is).
  bool isDirty() const;

  // Takes a new surface size: the bands and the sprite index are built anew,
  // every sprite is listed again by the next prepareFrame, and the whole
  // surface is marked. Throws like the constructor, leaving the drawer as
  // it was. Under the scene lock, outside a frame.
  void resize(uint32_t width, uint32_t height, uint32_t requestedBandHeight);

  // Reads the sprites the registry reports as changed and updates their
  // commands. A failure (a sprite's getDrawCommand throwing, memory running
  // out) reaches the caller with every sprite either read or still reported,
  // so that the next try picks up where this one stopped; the drawer stays
  // dirty, and no command of a sprite whose image may have gone is drawn.
  void prepareFrame();
  // Composes every rectangle of band `band` into `target` (as wide as the
  // surface, at least bandHeight rows; the band's first row is the target's
  // first), writing only inside those rectangles.
  void drawBand(uint32_t band, IImage& target) const;
  // Composes every band of `run` into `target` (as wide as the surface, at
  // least as many rows as the run's bands; the run's first row is the
  // target's first).
  void drawRun(const BandRun& run, IImage& target) const;
  void finishFrame();
  // The same, but the bands in `keep` (in increasing order, each a dirty
  // band of this frame) keep their rectangles for the next frame: bands
  // whose composition failed.
  void finishFrame(const std::vector<uint32_t>& keep);

  // The slot of the topmost sprite that marks surface pixel (x, y) (see
  // drawsAt), or none. The sprites that changed since the last frame are
  // read first, so that it answers for the sprites as they are now; the
  // cost follows the sprites near the point, not their number. Under the
  // scene lock, outside a frame. Throws std::bad_alloc and what a sprite's
  // getDrawCommand throws, leaving the sprites to be read by the next frame.
  std::optional<uint32_t> pick(int32_t x, int32_t y);

  // How many sprites have a command listed: the visible ones that reach the
  // surface, as of the last prepareFrame.
  size_t getListedCount() const { return listed_; }

 private:
  // What the drawer keeps of one registry slot.
  struct Listing {
    DrawCommand command;
    OrderKey key;
    bool visible = false;  // there is a command
    bool listed = false;   // the command covers pixels of the surface
    bool hider = false;    // the command may hide what lies below it
    // What the index holds of the slot, which catches up with the above
    // only before a frame composed from the index (reindex): frames from
    // bins never look at it, so they do not pay for keeping it.
    bool stale = false;
    bool indexedHider = false;
    SpriteGrid::Placement indexed;
  };

  // Reads the sprites the registry reports as changed (see prepareFrame).
  void readChanges(SpriteManager& manager);
  void refresh(const SpriteManager& manager, uint32_t slot);
  // Notes where a sprite's command reached and reaches now, to be marked
  // by markChanges.
  void markChange(const Rect& before, const Rect& after);
  void markChanges() noexcept;
  bool coversSurface(const Rect& bounds) const;
  // Whether `now` is `before` moved, and by how much.
  static bool movedOnly(const DrawCommand& now, const DrawCommand& before, int32_t& dx,
                        int32_t& dy);
  void reindex();
  void forget();
  void build(uint32_t width, uint32_t height, uint32_t bandHeight);

  // Whether this frame is worth binning, and the bins and runs if so.
  bool shouldBin() const;
  void bin(const SpriteManager& manager);
  void makeRuns();

  static RegionTarget regionOf(IImage& target, uint8_t* pixels, int32_t top, uint32_t rows);
  void composePiece(const Rect& piece, const SpriteGrid::CellList* lists, size_t count,
                    const RegionTarget& region, const blit::LoopTable& loops) const;
  // Composes `rects` (column-disjoint, from left to right, inside the
  // region) from the bin of their rows' group.
  void composeBinned(const BandBins::Bin& bin, const Rect* rects, size_t count,
                     const RegionTarget& region, const blit::LoopTable& loops) const;
  void mark(int64_t left, int64_t top, int64_t right, int64_t bottom);

  std::weak_ptr<SpriteManager> manager_;
  std::shared_ptr<const SceneGuard> guard_;
  uint32_t width_;
  uint32_t height_;
  uint32_t bandHeight_;
  std::vector<BandDamage> damage_;
  std::vector<uint32_t> dirtyBands_;
  std::vector<BandRun> dirtyRuns_;
  bool dirty_ = false;
  // The rectangles sprites' changes ask to redraw, not yet marked, and per
  // band the area they cover (with the bands that have some).
  static constexpr size_t kMaxChanges = 1 << 16;
  std::vector<Rect> changes_;
  std::vector<int64_t> changedArea_;
  std::vector<uint32_t> changedBands_;
  // The pixels to redraw, summed over the bands.
  int64_t dirtyArea_ = 0;

  Composition composition_ = Composition::Measured;
  bool binned_ = false;
  // Bands per group of the bins: a run's rows stay in a processor's cache.
  uint32_t groupBands_ = 1;
  BandBins bins_;
  DrawOrder order_;

  SpriteGrid grid_;
  // By registry slot: the listings, and the keys the index orders them by.
  PagedArray<Listing> listings_;
  PagedArray<OrderKey> keys_;
  // By registry slot, kept apart from the listings so that composing walks
  // compact arrays: each listing's prepared command, and the groups of bins
  // it reaches.
  PagedArray<PreparedCommand> prepared_;
  PagedArray<BandBins::Span> spans_;
  // The slots whose listing the index has yet to catch up with.
  std::vector<uint32_t> stale_;
  size_t listed_ = 0;
  // Every slot is read again, not only the reported ones (after a resize).
  bool relistAll_ = false;
};

}  // namespace nubrik
