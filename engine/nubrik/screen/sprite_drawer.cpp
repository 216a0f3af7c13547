#include "nubrik/screen/sprite_drawer.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/fill_blitters.h"

namespace nubrik {

SpriteDrawer::SpriteDrawer(uint32_t width, uint32_t height, uint32_t requestedBandHeight,
                           std::weak_ptr<SpriteManager> manager)
    : manager_(std::move(manager)),
      width_(width),
      height_(height),
      bandHeight_(std::min(requestedBandHeight, height)) {
  constexpr uint32_t kMaxExtent = INT32_MAX;  // surface coordinates are signed 32-bit
  if (width == 0 || height == 0 || bandHeight_ == 0 || width > kMaxExtent || height > kMaxExtent) {
    throw std::invalid_argument("a SpriteDrawer needs a surface and bands of at least one row");
  }
  const uint64_t bands = (uint64_t{height} + bandHeight_ - 1) / bandHeight_;
  damage_.resize(bands);
  dirtyBands_.reserve(bands);
  bandStart_.assign(bands + 1, 0);
}

Rect SpriteDrawer::getBandRegion(uint32_t band) const {
  return band < damage_.size() ? damage_[band].bounds() : Rect{};
}

void SpriteDrawer::invalidateRect(const Rect& rect) {
  const Rect surface{0, 0, static_cast<int32_t>(width_), static_cast<int32_t>(height_)};
  const Rect k = intersect(surface, rect);
  // Outside, touching, or inverted: nothing on the surface to redraw.
  if (!k.hasArea()) return;

  const uint32_t first = static_cast<uint32_t>(k.top) / bandHeight_;
  const uint32_t last = static_cast<uint32_t>(k.bottom - 1) / bandHeight_;
  for (uint32_t band = first; band <= last; ++band) {
    const int32_t top = static_cast<int32_t>(band * bandHeight_);
    const Rect part{k.left, std::max(k.top, top), k.right,
                    std::min<int32_t>(k.bottom, top + static_cast<int32_t>(bandHeight_))};
    BandDamage& damage = damage_[band];
    if (damage.empty()) dirtyBands_.push_back(band);
    damage.add(part);
  }
  dirty_ = true;
}

void SpriteDrawer::prepareFrame() {
  if (!dirty_) return;
  std::sort(dirtyBands_.begin(), dirtyBands_.end());
  // dirtyBefore_[b]: how many bands above band b have something to redraw,
  // so that a command can be kept only when its bands include a dirty one.
  dirtyBefore_.assign(damage_.size() + 1, 0);
  for (uint32_t band : dirtyBands_) dirtyBefore_[band + 1] = 1;
  for (size_t b = 1; b < dirtyBefore_.size(); ++b) dirtyBefore_[b] += dirtyBefore_[b - 1];
  if (const std::shared_ptr<SpriteManager> manager = manager_.lock()) {
    manager->sortIfDirty();
    commands_.reserve(manager->size());
    for (const auto& entry : *manager) {
      if (!entry.sprite->isVisible()) continue;
      DrawCommand command = entry.sprite->getDrawCommand();
      BandRange bands;
      if (bandRange(command.bounds, bands) &&
          dirtyBefore_[bands.last + 1] != dirtyBefore_[bands.first]) {
        commands_.push_back(command);
      }
    }
  }
  sortCommandsIntoBands();
}

bool SpriteDrawer::bandRange(const Rect& b, BandRange& range) const {
  // Commands that cover no pixel of the surface draw nothing anywhere.
  if (b.left >= b.right || b.top >= b.bottom || b.bottom <= 0 ||
      b.top >= static_cast<int32_t>(height_) || b.right <= 0 ||
      b.left >= static_cast<int32_t>(width_)) {
    return false;
  }
  range.first = static_cast<uint32_t>(std::max<int32_t>(b.top, 0)) / bandHeight_;
  range.last =
      static_cast<uint32_t>(std::min<int64_t>(int64_t{b.bottom}, height_) - 1) / bandHeight_;
  return true;
}

void SpriteDrawer::sortCommandsIntoBands() {
  // Counting, then placing: two passes over the commands, no allocation per
  // band. Band b's count is kept in bandStart_[b + 1] until the prefix sum.
  std::fill(bandStart_.begin(), bandStart_.end(), 0);
  auto forEachDirtyBand = [&](const DrawCommand& command, auto visit) {
    BandRange bands;
    if (!bandRange(command.bounds, bands)) return;
    for (uint32_t band = bands.first; band <= bands.last; ++band) {
      if (!damage_[band].empty()) visit(band);
    }
  };
  for (const DrawCommand& command : commands_) {
    forEachDirtyBand(command, [&](uint32_t band) { ++bandStart_[band + 1]; });
  }
  for (size_t band = 1; band < bandStart_.size(); ++band) bandStart_[band] += bandStart_[band - 1];
  bandCommands_.resize(bandStart_.back());
  // bandStart_[b] walks forward while band b is filled, then is put back.
  for (uint32_t index = 0; index < commands_.size(); ++index) {
    forEachDirtyBand(commands_[index],
                     [&](uint32_t band) { bandCommands_[bandStart_[band]++] = index; });
  }
  for (size_t band = bandStart_.size() - 1; band > 0; --band) {
    bandStart_[band] = bandStart_[band - 1];
  }
  bandStart_[0] = 0;
}

void SpriteDrawer::drawBand(uint32_t band, IImage& target) const {
  if (!dirty_ || band >= damage_.size()) return;
  const int32_t bandTop = static_cast<int32_t>(band * bandHeight_);
  const uint32_t* first = bandCommands_.data() + bandStart_[band];
  const uint32_t* last = bandCommands_.data() + bandStart_[band + 1];
  for (const Rect& r : damage_[band]) {
    const BandClip clip{Rect{r.left, r.top - bandTop, r.right, r.bottom - bandTop}, 0, -bandTop};
    // Drawing starts at the topmost command that hides everything below it
    // here; without one, the rectangle starts cleared.
    const uint32_t* start = last;
    while (start != first && !hidesBelow(commands_[*(start - 1)], r)) --start;
    if (start == first) {
      fillRect(target, &clip, BlendMode::Normal, r, Colour{PixelFormat::Rgb, {0, 0, 0, 0}}, 255);
    } else {
      --start;
    }
    for (const uint32_t* c = start; c != last; ++c) {
      const DrawCommand& command = commands_[*c];
      if (overlaps(command.bounds, r)) drawCommand(target, clip, command);
    }
  }
}

void SpriteDrawer::finishFrame() {
  if (!dirty_) return;
  commands_.clear();
  for (uint32_t band : dirtyBands_) damage_[band].clear();
  dirtyBands_.clear();
  std::fill(bandStart_.begin(), bandStart_.end(), 0);
  dirty_ = false;
}

}  // namespace nubrik
