#include "nubrik/screen/sprite_drawer.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "nubrik/screen/sprite_manager.h"
#include "nubrik/sprite/fill_blitters.h"
#include "nubrik/sprite/image_blitters.h"

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
  bandRegions_.assign(bands, Rect{});
}

Rect SpriteDrawer::getBandRegion(uint32_t band) const {
  return band < bandRegions_.size() ? bandRegions_[band] : Rect{};
}

namespace {

Rect unite(const Rect& a, const Rect& b) {
  if (a.isEmpty()) return b;
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

bool overlaps(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

void SpriteDrawer::invalidateRect(const Rect& rect) {
  const Rect surface{0, 0, static_cast<int32_t>(width_), static_cast<int32_t>(height_)};
  const Rect k = intersect(surface, rect);
  // Outside, touching, or inverted: nothing on the surface to redraw.
  if (!k.hasArea()) return;

  const uint32_t first = static_cast<uint32_t>(k.top) / bandHeight_;
  const uint32_t end = std::min<uint64_t>(
      bandRegions_.size(),
      (uint64_t{static_cast<uint32_t>(k.bottom)} + bandHeight_ - 1) / bandHeight_);
  for (uint32_t band = first; band < end; ++band) {
    const int64_t top = int64_t{band} * bandHeight_;
    const Rect bandRect{0, static_cast<int32_t>(top), surface.right,
                        static_cast<int32_t>(std::min<int64_t>(height_, top + bandHeight_))};
    const Rect part = intersect(bandRect, k);
    if (!part.isEmpty()) bandRegions_[band] = unite(bandRegions_[band], part);
  }
  dirty_ = true;
}

void SpriteDrawer::prepareFrame() {
  const std::shared_ptr<SpriteManager> manager = manager_.lock();
  if (!dirty_ || !manager) return;
  manager->sortIfDirty();
  commands_.reserve(manager->size());
  for (const auto& entry : *manager) {
    if (entry.sprite->isVisible()) commands_.push_back(entry.sprite->getDrawCommand());
  }
}

void SpriteDrawer::drawBand(uint32_t band, IImage& target) const {
  if (!dirty_ || band >= bandRegions_.size()) return;
  const Rect region = bandRegions_[band];
  if (!region.hasArea()) return;
  const int32_t bandTop = static_cast<int32_t>(band * bandHeight_);
  const BandClip clip{
      Rect{region.left, region.top - bandTop, region.right, region.bottom - bandTop}, 0, -bandTop};
  for (const DrawCommand& command : commands_) {
    if (culling_ && !overlaps(command.bounds, region)) continue;
    switch (command.kind) {
      case DrawCommandKind::Fill:
        fillRect(target, &clip, command.blendMode, command.bounds, command.colour, command.opacity);
        break;
      case DrawCommandKind::Image:
        if (command.image != nullptr) {
          drawImage(*command.image, command.sourceOrigin, &clip, target, command.blendMode,
                    command.bounds, command.opacity);
        }
        break;
    }
  }
}

void SpriteDrawer::finishFrame() {
  if (!dirty_) return;
  commands_.clear();
  std::fill(bandRegions_.begin(), bandRegions_.end(), Rect{});
  dirty_ = false;
}

}  // namespace nubrik
