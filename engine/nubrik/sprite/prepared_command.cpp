#include "nubrik/sprite/prepared_command.h"

#include <algorithm>

#include "nubrik/image/image.h"
#include "nubrik/image/pixel_lock.h"

namespace nubrik {

namespace {

using blit::WeightCase;

// A 64-bit rectangle cut to what 32-bit surface coordinates hold.
Rect toRect(int64_t left, int64_t top, int64_t right, int64_t bottom) {
  auto clamp = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  if (left >= right || top >= bottom) return Rect{};
  return Rect{clamp(left), clamp(top), clamp(right), clamp(bottom)};
}

}  // namespace

// Every test below is the one fillRect, drawImage or drawCommand makes, in
// the same order, so that what draws nothing there draws nothing here and
// what fails there fails here.
PreparedCommand::PreparedCommand(const DrawCommand& command) : command_(&command) {
  const Rect& b = command.bounds;
  if (command.kind == DrawCommandKind::Image && command.image != nullptr &&
      (command.isTransformed() || command.isRotated())) {
    reach_ = toRect(b.left, b.top, b.right, b.bottom);
    path_ = reach_.hasArea() ? Path::Command : Path::Nothing;
    return;
  }
  if (b.isEmpty() || command.opacity == 0 || !isValidBlendMode(command.blendMode)) return;
  mode_ = static_cast<uint8_t>(command.blendMode);
  switch (command.kind) {
    case DrawCommandKind::Fill: {
      const uint8_t alpha = colourAlpha(command.colour);
      if (alpha == 0) return;
      const bool translucent = isTranslucent(command.colour);
      WeightCase weightCase;
      if (command.opacity == 255) {
        weightCase = translucent ? WeightCase::Alpha : WeightCase::Opaque;
        weight_ = translucent ? toWeight(alpha) : 256;
      } else {
        weightCase = translucent ? WeightCase::FadedAlpha : WeightCase::Faded;
        weight_ = translucent ? toWeight((alpha * toWeight(command.opacity)) >> 8)
                              : toWeight(command.opacity);
      }
      variant_ = static_cast<uint8_t>(weightCase);
      pixel_ = toPixel(command.colour);
      reach_ = toRect(b.left, b.top, b.right, b.bottom);
      path_ = reach_.hasArea() ? Path::Fill : Path::Nothing;
      return;
    }
    case DrawCommandKind::Image: {
      const IImage* image = command.image;
      if (image == nullptr) return;
      const PixelFormat format = image->getPixelFormat();
      if (!isValidPixelFormat(format)) return;
      const uint32_t bpp = bytesPerPixel(format);
      if (image->getPitch() < uint64_t{image->getWidth()} * bpp) {
        reach_ = toRect(b.left, b.top, b.right, b.bottom);
        path_ = reach_.hasArea() ? Path::Command : Path::Nothing;  // refused there, and so here
        return;
      }
      originX_ = int64_t{b.left} - command.sourceOrigin.x;
      originY_ = int64_t{b.top} - command.sourceOrigin.y;
      reach_ = toRect(std::max<int64_t>(b.left, originX_), std::max<int64_t>(b.top, originY_),
                      std::min<int64_t>(b.right, originX_ + image->getWidth()),
                      std::min<int64_t>(b.bottom, originY_ + image->getHeight()));
      if (!reach_.hasArea()) return;
      format_ = static_cast<uint8_t>(format);
      variant_ = command.opacity != 255;
      weight_ = toWeight(command.opacity);
      pixel_ = bpp;
      sourcePitch_ = image->getPitch();
      image_ = image;
      path_ = Path::Image;
      return;
    }
  }
}

bool PreparedCommand::translate(int32_t dx, int32_t dy) {
  // Far from the ends of 32 bits, before and after, nothing was cut.
  constexpr int32_t kFar = 1 << 29;
  auto near = [](int64_t v) { return v > -kFar && v < kFar; };
  if (!near(dx) || !near(dy) || !near(reach_.left) || !near(reach_.top) || !near(reach_.right) ||
      !near(reach_.bottom) || !near(originX_) || !near(originY_)) {
    return false;
  }
  if (reach_.hasArea()) {
    reach_ = Rect{reach_.left + dx, reach_.top + dy, reach_.right + dx, reach_.bottom + dy};
  }
  originX_ += dx;
  originY_ += dy;
  return true;
}

void PreparedCommand::draw(const blit::LoopTable& loops, const RegionTarget& region,
                           const Rect& clip) const {
  const int32_t left = std::max(reach_.left, clip.left);
  const int32_t top = std::max(reach_.top, clip.top);
  const int32_t right = std::min(reach_.right, clip.right);
  const int32_t bottom = std::min(reach_.bottom, clip.bottom);
  if (left >= right || top >= bottom) return;
  blit::RowWalk walk;
  walk.target = region.pixels + size_t(top - region.top) * region.pitch + size_t(left) * 4;
  walk.targetPitch = region.pitch;
  walk.width = static_cast<uint32_t>(right - left);
  walk.height = static_cast<uint32_t>(bottom - top);
  switch (path_) {
    case Path::Nothing:
      return;
    case Path::Fill:
      loops.fill[mode_][variant_](walk, pixel_, weight_);
      return;
    case Path::Image: {
      ConstPixelLock lock(*image_);
      walk.source =
          lock.pixels() + size_t(top - originY_) * sourcePitch_ + size_t(left - originX_) * pixel_;
      walk.sourcePitch = sourcePitch_;
      loops.image[mode_][variant_][format_](walk, weight_);
      return;
    }
    case Path::Command: {
      Image view(region.width, region.rows, static_cast<uint32_t>(region.pitch),
                 Image::Pixels(Image::Pixels(), region.pixels));  // not owned
      const BandClip band{Rect{left, top - region.top, right, bottom - region.top}, 0, -region.top};
      drawCommand(view, band, *command_);
      return;
    }
  }
}

}  // namespace nubrik
