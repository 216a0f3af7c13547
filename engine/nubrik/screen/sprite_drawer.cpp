#include "nubrik/screen/sprite_drawer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "nubrik/base/scene_guard.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/blit_checks.h"
#include "nubrik/sprite/hit_test.h"

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

// The rows a group of bins spans, in bytes: the rows of a run stay in a
// processor's own cache while every sprite reaching them is drawn.
constexpr uint64_t kGroupBytes = 256 * 1024;

// A frame is composed from bins when it has this many pixels to redraw per
// listed sprite: gathering the bins costs in proportion to the sprites,
// and saves per pixel to redraw.
constexpr int64_t kBinnedPixelsPerSprite = 32;

// How many of a bin's hiders, from the top, a rectangle looks at for one
// that hides everything below it; below them it starts cleared.
constexpr size_t kMaxHiderLooks = 16;

// Composing starts here where nothing hides what lies below: cleared.
void clearRect(const RegionTarget& region, const Rect& rect, const blit::LoopTable& loops) {
  blit::RowWalk walk;
  walk.target =
      region.pixels + size_t(rect.top - region.top) * region.pitch + size_t(rect.left) * 4;
  walk.targetPitch = region.pitch;
  walk.width = static_cast<uint32_t>(rect.right - rect.left);
  walk.height = static_cast<uint32_t>(rect.bottom - rect.top);
  loops.fill[static_cast<int>(BlendMode::Normal)][static_cast<int>(blit::WeightCase::Opaque)](
      walk, 0, 256);
}

// `rect` cut to the region's pixels.
Rect clipToRegion(const Rect& rect, const RegionTarget& region) {
  return Rect{
      std::max(rect.left, 0), std::max(rect.top, region.top),
      static_cast<int32_t>(std::min<int64_t>(rect.right, region.width)),
      static_cast<int32_t>(std::min<int64_t>(rect.bottom, int64_t{region.top} + region.rows))};
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
  build(width, height, bandHeight_);
}

void SpriteDrawer::build(uint32_t width, uint32_t height, uint32_t bandHeight) {
  SpriteGrid grid(width, height, cellWidthFor(width), cellHeightFor(height, bandHeight));
  const uint64_t bands = (uint64_t{height} + bandHeight - 1) / bandHeight;
  const auto groupBands = static_cast<uint32_t>(std::clamp<uint64_t>(
      kGroupBytes / (uint64_t{bandHeight} * width * 4), 1, std::max<uint64_t>(bands, 1)));
  std::vector<BandDamage> damage(bands);
  std::vector<uint32_t> dirtyBands;
  dirtyBands.reserve(bands);
  std::vector<BandRun> dirtyRuns;
  dirtyRuns.reserve(bands);
  std::vector<int64_t> changedArea(bands);
  std::vector<uint32_t> changedBands;
  changedBands.reserve(bands);
  BandBins bins;
  bins.reset(static_cast<uint32_t>((bands + groupBands - 1) / groupBands), groupBands * bandHeight);

  width_ = width;
  height_ = height;
  bandHeight_ = bandHeight;
  groupBands_ = groupBands;
  grid_ = std::move(grid);
  damage_.swap(damage);
  dirtyBands_.swap(dirtyBands);
  dirtyRuns_.swap(dirtyRuns);
  changedArea_.swap(changedArea);
  changedBands_.swap(changedBands);
  changes_.clear();
  bins_ = std::move(bins);
  dirtyArea_ = 0;
  binned_ = false;
}

void SpriteDrawer::resize(uint32_t width, uint32_t height, uint32_t requestedBandHeight) {
  checkScene(guard_.get());
  build(width, height, checkedBandHeight(width, height, requestedBandHeight));
  listings_.clear();
  keys_.clear();
  prepared_.clear();
  spans_.clear();
  stale_.clear();
  order_.reset();
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
    if (damage.isWhole()) continue;
    // Never grows: reserved for every band.
    if (damage.empty()) dirtyBands_.push_back(static_cast<uint32_t>(band));
    const int64_t before = damage.coveredArea();
    damage.add(part);
    // Past a quarter of the band, redrawing all of it costs less than
    // finding, one rectangle at a time, what lies in the pieces.
    const Rect whole{0, static_cast<int32_t>(bandTop), static_cast<int32_t>(width_),
                     static_cast<int32_t>(std::min<int64_t>(bandTop + bandHeight_, height_))};
    if (damage.coveredArea() * 4 > area(whole)) damage.makeWhole(whole);
    dirtyArea_ += damage.coveredArea() - before;
  }
  dirty_ = true;
}

void SpriteDrawer::markChanges() noexcept {
  if (changes_.empty()) return;
  // Bands that the changes cover more than a quarter of, counting overlaps
  // twice, are made whole at once: most of a frame in which much changed,
  // for a sum per rectangle instead of an addition to a band's set.
  for (const Rect& r : changes_) {
    const uint32_t first = static_cast<uint32_t>(r.top) / bandHeight_;
    const uint32_t last = static_cast<uint32_t>(r.bottom - 1) / bandHeight_;
    for (uint32_t band = first; band <= last; ++band) {
      const int64_t top = std::max<int64_t>(r.top, int64_t{band} * bandHeight_);
      const int64_t bottom = std::min<int64_t>(r.bottom, (int64_t{band} + 1) * bandHeight_);
      if (changedArea_[band] == 0) changedBands_.push_back(band);  // never grows: reserved
      changedArea_[band] += int64_t{r.right - r.left} * (bottom - top);
    }
  }
  for (uint32_t band : changedBands_) {
    BandDamage& damage = damage_[band];
    const int64_t top = int64_t{band} * bandHeight_;
    const Rect whole{0, static_cast<int32_t>(top), static_cast<int32_t>(width_),
                     static_cast<int32_t>(std::min<int64_t>(top + bandHeight_, height_))};
    if (!damage.isWhole() && (damage.coveredArea() + changedArea_[band]) * 4 > area(whole)) {
      if (damage.empty()) dirtyBands_.push_back(band);  // never grows: reserved
      dirtyArea_ += area(whole) - damage.coveredArea();
      damage.makeWhole(whole);
      dirty_ = true;
    }
    changedArea_[band] = 0;
  }
  changedBands_.clear();
  for (const Rect& r : changes_) mark(r.left, r.top, r.right, r.bottom);
  changes_.clear();
}

bool SpriteDrawer::isDirty() const {
  if (dirty_ || relistAll_ || !changes_.empty()) return true;
  const std::shared_ptr<SpriteManager> manager = manager_.lock();
  return manager && (!manager->pendingSlots().empty() || manager->isOrderDirty());
}

void SpriteDrawer::prepareFrame() {
  if (!isDirty()) return;
  const std::shared_ptr<SpriteManager> manager = manager_.lock();
  if (!manager) {
    // The sprites went with their registry; so do their commands.
    forget();
  } else {
    readChanges(*manager);
  }
  markChanges();
  std::sort(dirtyBands_.begin(), dirtyBands_.end());
  binned_ = false;
  if (manager && shouldBin()) {
    try {
      bin(*manager);
      binned_ = true;
    } catch (const std::bad_alloc&) {
      // The index serves every frame.
    }
  }
  // The index catches up only for the frames composed from it.
  if (!binned_) reindex();
  makeRuns();
}

void SpriteDrawer::readChanges(SpriteManager& manager) {
  manager.sortIfDirty();
  if (listings_.size() < manager.slotCount()) {
    listings_.resize(manager.slotCount());
    keys_.resize(manager.slotCount());
    prepared_.resize(manager.slotCount());
    spans_.resize(manager.slotCount());
  }
  if (relistAll_) {
    for (uint32_t slot = 0; slot < manager.slotCount(); ++slot) refresh(manager, slot);
    relistAll_ = false;
  }
  const std::vector<uint32_t>& pending = manager.pendingSlots();
  size_t done = 0;
  try {
    for (; done < pending.size(); ++done) {
      // What the refresh a few slots on reads, asked for now.
      if (done + 4 < pending.size()) {
        const uint32_t ahead = pending[done + 4];
        __builtin_prefetch(manager.spriteAt(ahead));
        __builtin_prefetch(&listings_[ahead]);
        __builtin_prefetch(&prepared_[ahead]);
      }
      refresh(manager, pending[done]);
    }
  } catch (...) {
    manager.takePending(done);
    throw;
  }
  manager.takePending(done);
  for (uint32_t slot : manager.silentSlots()) refresh(manager, slot);
}

std::optional<uint32_t> SpriteDrawer::pick(int32_t x, int32_t y) {
  checkScene(guard_.get());
  if (x < 0 || y < 0 || int64_t{x} >= width_ || int64_t{y} >= height_) return std::nullopt;
  const std::shared_ptr<SpriteManager> manager = manager_.lock();
  if (!manager) return std::nullopt;
  readChanges(*manager);
  reindex();
  SpriteGrid::CellList lists[SpriteGrid::kMaxLists];
  const size_t count = grid_.listsOver(static_cast<uint32_t>(x) / grid_.getCellWidth(),
                                       static_cast<uint32_t>(y) / grid_.getCellHeight(), lists);
  // Each list from its top down to the first that marks the point; the
  // topmost of those.
  std::optional<uint32_t> best;
  for (size_t i = 0; i < count; ++i) {
    for (const SpriteGrid::Entry* e = lists[i].last; e != lists[i].first;) {
      --e;
      if (best && keys_[e->slot] < keys_[*best]) break;
      const Rect& r = e->reach;
      if (x >= r.left && x < r.right && y >= r.top && y < r.bottom &&
          drawsAt(listings_[e->slot].command, x, y)) {
        best = e->slot;
        break;
      }
    }
  }
  return best;
}

bool SpriteDrawer::shouldBin() const {
  switch (composition_) {
    case Composition::Indexed:
      return false;
    case Composition::Binned:
      return true;
    case Composition::Measured:
      break;
  }
  return dirtyArea_ >= kBinnedPixelsPerSprite * static_cast<int64_t>(listed_);
}

void SpriteDrawer::bin(const SpriteManager& manager) {
  order_.update(
      manager.slotCount(), [&](uint32_t slot) { return listings_[slot].visible; },
      [&](uint32_t slot) -> const OrderKey& { return listings_[slot].key; });
  // The groups with a dirty band: both lists are in increasing order.
  auto dirty = dirtyBands_.begin();
  bins_.gather(
      order_.slots(),
      [&](uint32_t group) {
        while (dirty != dirtyBands_.end() && *dirty / groupBands_ < group) ++dirty;
        return dirty != dirtyBands_.end() && *dirty / groupBands_ == group;
      },
      [&](uint32_t slot) -> const BandBins::Span& { return spans_[slot]; },
      [&](uint32_t slot) { return &prepared_[slot]; });
}

void SpriteDrawer::makeRuns() {
  dirtyRuns_.clear();
  for (size_t i = 0; i < dirtyBands_.size(); ++i) {
    BandRun run{dirtyBands_[i], 1};
    // Whole bands that follow in the same group join the run.
    if (binned_ && damage_[run.first].isWhole()) {
      while (i + 1 < dirtyBands_.size() && dirtyBands_[i + 1] == run.first + run.count &&
             damage_[dirtyBands_[i + 1]].isWhole() &&
             dirtyBands_[i + 1] / groupBands_ == run.first / groupBands_) {
        ++run.count;
        ++i;
      }
    }
    dirtyRuns_.push_back(run);  // never grows: reserved for every band
  }
}

void SpriteDrawer::refresh(const SpriteManager& manager, uint32_t slot) {
  Listing& listing = listings_[slot];
  ISprite* sprite = manager.spriteAt(slot);
  DrawCommand command;
  OrderKey key;
  const bool visible = sprite != nullptr && sprite->isVisible();
  bool listed = false;
  if (visible) {
    command = SpriteCommands::of(*sprite);
    listed = coversSurface(command.bounds);
    key = manager.orderKeyAt(slot);
  }
  // The drawing order holds the visible sprites, on the surface or not, so
  // that sprites crossing its edges do not change it.
  const bool reordered = listing.visible != visible || (visible && key != listing.key);
  const bool reindexed = !listing.stale && (listed || listing.indexed.listed());
  // Nothing changes before the one step that can fail.
  if (reindexed && stale_.size() == stale_.capacity()) {
    stale_.reserve(std::max<size_t>(64, 2 * stale_.size()));
  }

  listed_ = listed_ + listed - listing.listed;
  if (reordered) order_.note(slot);
  // A sprite that only moved, as most do, moves its command and its
  // prepared command.
  PreparedCommand& prepared = prepared_[slot];
  const Rect before = prepared.reach();
  int32_t dx = 0, dy = 0;
  const bool moved = movedOnly(command, listing.command, dx, dy);
  if (moved && prepared.translate(dx, dy)) {
    listing.command.bounds = command.bounds;
  } else {
    listing.command = command;
    prepared = PreparedCommand(listing.command);
  }
  // What changed is redrawn where it was and where it is; so is a sprite
  // that asked to be (invalidate), even if it draws as before.
  if (!moved || dx != 0 || dy != 0 || reordered || manager.redrawAt(slot)) {
    markChange(before, prepared.reach());
  }
  const bool hider = mayHide(command);
  listing.key = key;
  listing.listed = listed;
  listing.visible = visible;
  listing.hider = hider;
  spans_[slot] = listed ? bins_.spanOf(prepared.reach(), height_, hider) : BandBins::Span{};
  if (reindexed) {
    listing.stale = true;
    stale_.push_back(slot);  // never grows: room was made above
  }
}

void SpriteDrawer::markChange(const Rect& before, const Rect& after) {
  auto markRect = [&](const Rect& r) {
    const Rect cut{std::max(r.left, 0), std::max(r.top, 0),
                   static_cast<int32_t>(std::min<int64_t>(r.right, width_)),
                   static_cast<int32_t>(std::min<int64_t>(r.bottom, height_))};
    if (!cut.hasArea()) return;
    // Kept for markChanges, which takes the frame's changes together; past
    // a bound, or without room, marked at once.
    if (changes_.size() < kMaxChanges) {
      try {
        changes_.push_back(cut);
        return;
      } catch (const std::bad_alloc&) {
      }
    }
    mark(cut.left, cut.top, cut.right, cut.bottom);
  };
  // A small move: one rectangle holds both.
  if (overlaps(before, after)) {
    markRect(unite(before, after));
    return;
  }
  markRect(before);
  markRect(after);
}

bool SpriteDrawer::coversSurface(const Rect& bounds) const {
  return bounds.left < bounds.right && bounds.top < bounds.bottom && bounds.right > 0 &&
         bounds.bottom > 0 && int64_t{bounds.left} < int64_t{width_} &&
         int64_t{bounds.top} < int64_t{height_};
}

bool SpriteDrawer::movedOnly(const DrawCommand& now, const DrawCommand& before, int32_t& dx,
                             int32_t& dy) {
  const Rect& a = now.bounds;
  const Rect& b = before.bounds;
  const auto word = [](const Colour& c) {
    uint32_t w;
    std::memcpy(&w, c.components.data(), 4);
    return w;
  };
  // A turned command's box moves with it: it is prepared anew.
  if (now.isRotated() || before.isRotated()) return false;
  if (now.kind != before.kind || now.image != before.image || now.blendMode != before.blendMode ||
      now.opacity != before.opacity || now.orientation != before.orientation ||
      now.colour.kind != before.colour.kind || word(now.colour) != word(before.colour) ||
      now.sourceOrigin != before.sourceOrigin || now.sourceWidth != before.sourceWidth ||
      now.sourceHeight != before.sourceHeight || now.tint != before.tint ||
      int64_t{a.right} - a.left != int64_t{b.right} - b.left ||
      int64_t{a.bottom} - a.top != int64_t{b.bottom} - b.top) {
    return false;
  }
  const int64_t x = int64_t{a.left} - b.left, y = int64_t{a.top} - b.top;
  if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) return false;
  dx = static_cast<int32_t>(x);
  dy = static_cast<int32_t>(y);
  return true;
}

void SpriteDrawer::reindex() {
  size_t done = 0;
  try {
    for (; done < stale_.size(); ++done) {
      const uint32_t slot = stale_[done];
      Listing& listing = listings_[slot];
      const SpriteGrid::Placement placement =
          listing.listed ? grid_.place(listing.command.bounds) : SpriteGrid::Placement{};
      const bool stays =
          listing.indexed.listed() && placement == listing.indexed && listing.key == keys_[slot];
      // Nothing changes before the one step that can fail.
      if (placement.listed() && !stays) grid_.reserve(placement);
      const Rect& reach = prepared_[slot].reach();
      if (stays) {
        if (listing.hider != listing.indexedHider) grid_.countHider(placement, listing.hider);
        grid_.setReach(placement, slot, reach);
      } else {
        if (listing.indexed.listed()) grid_.erase(listing.indexed, slot, listing.indexedHider);
        keys_[slot] = listing.key;
        if (placement.listed()) {
          grid_.insert(placement, slot, reach, listing.key, listing.hider, keys_);
        }
      }
      listing.indexed = placement;
      listing.indexedHider = listing.hider;
      listing.stale = false;
    }
  } catch (...) {
    stale_.erase(stale_.begin(), stale_.begin() + static_cast<std::ptrdiff_t>(done));
    throw;
  }
  stale_.clear();
}

void SpriteDrawer::forget() {
  grid_.clear();
  listings_.clear();
  keys_.clear();
  prepared_.clear();
  spans_.clear();
  stale_.clear();
  order_.reset();
  listed_ = 0;
}

RegionTarget SpriteDrawer::regionOf(IImage& target, uint8_t* pixels, int32_t top, uint32_t rows) {
  RegionTarget region;
  region.pixels = pixels;
  region.pitch = target.getPitch();
  region.top = top;
  region.width = target.getWidth();
  region.rows = std::min(rows, target.getHeight());
  return region;
}

void SpriteDrawer::drawBand(uint32_t band, IImage& target) const {
  if (!dirty_ || band >= damage_.size()) return;
  const uint64_t top = uint64_t{band} * bandHeight_;
  const auto bandTop = static_cast<int32_t>(top);
  const blit::LoopTable& loops = blit::activeLoops();
  blit::requireTarget(target, "drawBand");
  PixelLock lock(target);
  const RegionTarget region = regionOf(target, lock.pixels(), bandTop, bandHeight_);
  const BandDamage& damage = damage_[band];
  if (binned_) {
    composeBinned(bins_.bin(band / groupBands_), damage.begin(), damage.size(), region, loops);
    return;
  }
  const auto cellY = static_cast<uint32_t>(top / grid_.getCellHeight());
  const uint32_t cellWidth = grid_.getCellWidth();
  // The lists over the finest cell the pieces lie in, found again only when
  // the pieces, from left to right, reach the next cell.
  SpriteGrid::CellList lists[SpriteGrid::kMaxLists];
  size_t count = 0;
  uint32_t listed = UINT32_MAX;
  for (const Rect& damaged : damage) {
    const Rect r = clipToRegion(damaged, region);
    if (!r.hasArea()) continue;
    // Pieces that each lie in one cell of the index.
    for (int32_t left = r.left; left < r.right;) {
      const uint32_t cellX = static_cast<uint32_t>(left) / cellWidth;
      const int32_t right =
          static_cast<int32_t>(std::min<int64_t>(r.right, int64_t{cellX + 1} * cellWidth));
      if (cellX != listed) {
        count = grid_.listsOver(cellX, cellY, lists);
        listed = cellX;
      }
      composePiece(Rect{left, r.top, right, r.bottom}, lists, count, region, loops);
      left = right;
    }
  }
}

void SpriteDrawer::drawRun(const BandRun& run, IImage& target) const {
  if (run.count <= 1 || !binned_) {
    drawBand(run.first, target);
    return;
  }
  if (!dirty_ || run.first >= damage_.size() || run.count > damage_.size() - run.first) return;
  const uint64_t top = uint64_t{run.first} * bandHeight_;
  const auto rows =
      static_cast<uint32_t>(std::min<uint64_t>(uint64_t{run.count} * bandHeight_, height_ - top));
  const blit::LoopTable& loops = blit::activeLoops();
  blit::requireTarget(target, "drawRun");
  PixelLock lock(target);
  const RegionTarget region = regionOf(target, lock.pixels(), static_cast<int32_t>(top), rows);
  // The run's bands are whole: the run is one rectangle.
  const Rect whole = clipToRegion(
      Rect{0, region.top, static_cast<int32_t>(width_),
           static_cast<int32_t>(std::min<int64_t>(int64_t{region.top} + rows, INT32_MAX))},
      region);
  composeBinned(bins_.bin(run.first / groupBands_), &whole, 1, region, loops);
}

void SpriteDrawer::composeBinned(const BandBins::Bin& bin, const Rect* rects, size_t count,
                                 const RegionTarget& region, const blit::LoopTable& loops) const {
  // Where drawing starts in each rectangle: at the topmost hider that hides
  // all of it, or cleared at the bottom.
  Rect clipped[BandDamage::kMaxRects];
  uint32_t starts[BandDamage::kMaxRects];
  size_t kept = 0;
  int32_t top = INT32_MAX, bottom = INT32_MIN;
  size_t first = bin.commands.size();
  for (size_t r = 0; r < count && kept < BandDamage::kMaxRects; ++r) {
    const Rect rect = clipToRegion(rects[r], region);
    if (!rect.hasArea()) continue;
    uint32_t start = 0;
    bool hidden = false;
    for (size_t k = bin.hiders.size(), looks = 0; k-- > 0 && looks < kMaxHiderLooks; ++looks) {
      const uint32_t at = bin.hiders[k];
      if (hidesBelow(*bin.commands[at]->command(), rect)) {
        start = at;
        hidden = true;
        break;
      }
    }
    if (!hidden) clearRect(region, rect, loops);
    clipped[kept] = rect;
    starts[kept++] = start;
    first = std::min<size_t>(first, start);
    top = std::min(top, rect.top);
    bottom = std::max(bottom, rect.bottom);
  }
  // The commands lie wherever their slots are: each is asked for a few
  // ahead of its turn, so that walking the bin does not wait on memory.
  constexpr size_t kAhead = 8;
  for (size_t i = first; i < bin.commands.size(); ++i) {
    if (i + kAhead < bin.commands.size()) __builtin_prefetch(bin.commands[i + kAhead]);
    const PreparedCommand& command = *bin.commands[i];
    const Rect& reach = command.reach();
    if (reach.top >= bottom || reach.bottom <= top) continue;
    // The rectangles are apart and in order from left to right.
    size_t r = 0;
    if (kept > 8) {
      r = static_cast<size_t>(
          std::partition_point(clipped, clipped + kept,
                               [&](const Rect& c) { return c.right <= reach.left; }) -
          clipped);
    }
    for (; r < kept && clipped[r].left < reach.right; ++r) {
      if (i >= starts[r]) command.draw(loops, region, clipped[r]);
    }
  }
}

void SpriteDrawer::composePiece(const Rect& piece, const SpriteGrid::CellList* cellLists,
                                size_t count, const RegionTarget& region,
                                const blit::LoopTable& loops) const {
  // Drawing starts at the topmost command that hides everything below it
  // here; without one, the piece starts cleared.
  bool hidden = false;
  OrderKey start;
  for (size_t i = 0; i < count; ++i) {
    if (cellLists[i].hiders == 0) continue;
    for (const SpriteGrid::Entry* s = cellLists[i].last; s != cellLists[i].first;) {
      const uint32_t slot = (--s)->slot;
      if (hidden && keys_[slot] < start) break;
      if (listings_[slot].hider && hidesBelow(listings_[slot].command, piece)) {
        hidden = true;
        start = keys_[slot];
        break;
      }
    }
  }
  if (!hidden) clearRect(region, piece, loops);
  // Each list from its first command at or above the start that reaches the
  // piece; lists with none drop out, so that the merge below mostly walks
  // one or two lists.
  auto reaches = [&](const SpriteGrid::Entry& e) { return overlaps(e.reach, piece); };
  auto skip = [&](SpriteGrid::CellList& list) {
    while (list.first != list.last && !reaches(*list.first)) ++list.first;
  };
  SpriteGrid::CellList lists[SpriteGrid::kMaxLists];
  size_t active = 0;
  for (size_t i = 0; i < count; ++i) {
    SpriteGrid::CellList list = cellLists[i];
    if (hidden && keys_[list.first->slot] < start) {
      list.first = std::lower_bound(
          list.first, list.last, start,
          [&](const SpriteGrid::Entry& e, const OrderKey& k) { return keys_[e.slot] < k; });
    }
    skip(list);
    if (list.first != list.last) lists[active++] = list;
  }
  // The lists merged in drawing order.
  while (active > 0) {
    size_t next = 0;
    for (size_t i = 1; i < active; ++i) {
      if (keys_[lists[i].first->slot] < keys_[lists[next].first->slot]) next = i;
    }
    prepared_[(lists[next].first++)->slot].draw(loops, region, piece);
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
  dirtyRuns_.clear();
  binned_ = false;
  dirtyArea_ = 0;
  for (uint32_t band : dirtyBands_) dirtyArea_ += damage_[band].coveredArea();
  dirty_ = kept != 0;
}

}  // namespace nubrik
