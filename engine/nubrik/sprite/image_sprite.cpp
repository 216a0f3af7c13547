#include "nubrik/sprite/image_sprite.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "nubrik/sprite/draw_command.h"

namespace nubrik {

namespace {

std::string describe(const Rect& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

std::string imageRect(const IImage& image) {
  return "(0, 0, " + std::to_string(image.getWidth()) + ", " + std::to_string(image.getHeight()) +
         ")";
}

bool fits(const Rect& r, const IImage& image) {
  return r.hasArea() && r.left >= 0 && r.top >= 0 && uint32_t(r.right) <= image.getWidth() &&
         uint32_t(r.bottom) <= image.getHeight();
}

// A bad image is refused where it enters: rows closer together than a row's
// bytes would make the loops read past the image, and a side that surface
// coordinates cannot hold would wrap the sprite's area.
void requireImage(const std::shared_ptr<IImage>& image, const char* operation) {
  if (!image)
    throw std::invalid_argument(std::string(operation) + ": an ImageSprite needs an image");
  if (image->getWidth() > uint32_t{INT32_MAX} || image->getHeight() > uint32_t{INT32_MAX}) {
    throw std::invalid_argument(std::string(operation) + ": an image of " +
                                std::to_string(image->getWidth()) + " x " +
                                std::to_string(image->getHeight()) +
                                " pixels; an ImageSprite takes 2147483647 at most each way");
  }
  const uint64_t rowBytes = uint64_t{image->getWidth()} * bytesPerPixel(image->getPixelFormat());
  if (image->getPitch() < rowBytes) {
    throw std::invalid_argument(std::string(operation) + ": the image's pitch " +
                                std::to_string(image->getPitch()) + " is below its row size " +
                                std::to_string(rowBytes) + " (" +
                                std::to_string(image->getWidth()) + " pixels of " +
                                std::to_string(bytesPerPixel(image->getPixelFormat())) + " bytes)");
  }
}

// The tint as 0xAARRGGBB multipliers; kinds without alpha have alpha 255.
uint32_t tintMultipliers(const Colour& tint) {
  return uint32_t{colourAlpha(tint)} << 24 | (toPixel(tint) & 0x00FFFFFFu);
}

}  // namespace

ImageSprite::ImageSprite(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer,
                         int32_t id, int32_t x, int32_t y, int32_t zOrder,
                         std::shared_ptr<IImage> image)
    : SpriteBase(std::move(manager), std::move(drawer), id, zOrder),
      x_(x),
      y_(y),
      image_(std::move(image)) {
  requireImage(image_, "ImageSprite");
}

const ImageSprite::Transform& ImageSprite::transform() const {
  static const Transform kNone;
  return transform_ ? *transform_ : kNone;
}

ImageSprite::Transform& ImageSprite::editTransform() {
  if (!transform_) transform_ = std::make_unique<Transform>();
  return *transform_;
}

void ImageSprite::setPosition(int32_t x, int32_t y) {
  noteChanged();
  x_ = x;
  y_ = y;
}

void ImageSprite::setImage(std::shared_ptr<IImage> image) {
  checkLock();
  requireImage(image, "ImageSprite::setImage");
  const Transform& t = transform();
  if (t.hasSourceRect && !fits(t.sourceRect, *image)) {
    throw std::invalid_argument("ImageSprite::setImage: the source rectangle " +
                                describe(t.sourceRect) + " is not inside the new image " +
                                imageRect(*image));
  }
  noteChanged();
  image_ = std::move(image);
}

void ImageSprite::setSourceRect(const Rect& rect) {
  checkLock();
  if (!fits(rect, *image_)) {
    throw std::invalid_argument("ImageSprite::setSourceRect: the source rectangle " +
                                describe(rect) + " is not inside the image " + imageRect(*image_) +
                                " or covers no pixel");
  }
  Transform& t = editTransform();
  noteChanged();
  t.sourceRect = rect;
  t.hasSourceRect = true;
}

Rect ImageSprite::getSourceRect() const {
  if (transform().hasSourceRect) return transform().sourceRect;
  return Rect{0, 0, static_cast<int32_t>(image_->getWidth()),
              static_cast<int32_t>(image_->getHeight())};
}

bool ImageSprite::isFlippedHorizontally() const {
  return (transform().orientation & kFlipHorizontal) != 0;
}

bool ImageSprite::isFlippedVertically() const {
  return (transform().orientation & kFlipVertical) != 0;
}

uint32_t ImageSprite::getQuarterTurns() const {
  return uint32_t{transform().orientation} >> kQuarterTurnShift;
}

void ImageSprite::setFlip(bool horizontal, bool vertical) {
  checkLock();
  Transform& t = editTransform();
  noteChanged();
  t.orientation =
      static_cast<uint8_t>((t.orientation & ~(kFlipHorizontal | kFlipVertical)) |
                           (horizontal ? kFlipHorizontal : 0) | (vertical ? kFlipVertical : 0));
}

void ImageSprite::setQuarterTurns(uint32_t turns) {
  if (turns > 3) {
    throw std::invalid_argument("ImageSprite::setQuarterTurns: " + std::to_string(turns) +
                                " quarter turns; 0 to 3 are allowed");
  }
  checkLock();
  Transform& t = editTransform();
  noteChanged();
  t.orientation = static_cast<uint8_t>((t.orientation & (kFlipHorizontal | kFlipVertical)) |
                                       turns << kQuarterTurnShift);
}

void ImageSprite::setSize(uint32_t width, uint32_t height) {
  constexpr uint32_t kMost = INT32_MAX;
  if (width == 0 || height == 0 || width > kMost || height > kMost) {
    throw std::invalid_argument("ImageSprite::setSize: " + std::to_string(width) + " x " +
                                std::to_string(height) + "; each must be 1 to " +
                                std::to_string(kMost));
  }
  checkLock();
  Transform& t = editTransform();
  noteChanged();
  t.width = width;
  t.height = height;
}

uint32_t ImageSprite::getWidth() const {
  if (transform().width != 0) return transform().width;
  const Rect source = getSourceRect();
  return static_cast<uint32_t>(getQuarterTurns() % 2 ? source.bottom - source.top
                                                     : source.right - source.left);
}

uint32_t ImageSprite::getHeight() const {
  if (transform().height != 0) return transform().height;
  const Rect source = getSourceRect();
  return static_cast<uint32_t>(getQuarterTurns() % 2 ? source.right - source.left
                                                     : source.bottom - source.top);
}

void ImageSprite::setTint(const Colour& tint) {
  if (!isValidPixelFormat(tint.kind) || tint.kind == PixelFormat::Rgbx) {
    throw std::invalid_argument("ImageSprite::setTint: colour kind " +
                                std::to_string(static_cast<int>(tint.kind)) +
                                " is not Grey, Rgb, GreyAlpha or Rgba");
  }
  checkLock();
  Transform& t = editTransform();
  noteChanged();
  t.tint = tint;
}

void ImageSprite::setRotation(double degrees) {
  checkLock();
  if (!std::isfinite(degrees)) {
    throw std::invalid_argument("ImageSprite::setRotation: " + std::to_string(degrees) +
                                " is not a finite number of degrees");
  }
  const uint32_t units = angleUnits(degrees);
  Transform& t = editTransform();
  noteChanged();
  t.angle = units;
}

void ImageSprite::setPivot(int32_t x, int32_t y) {
  checkLock();
  // Kept in half pixels beside the centre's, in 32 bits.
  constexpr int32_t kLeast = -(1 << 30), kMost = (1 << 30) - 1;
  if (x < kLeast || x > kMost || y < kLeast || y > kMost) {
    throw std::invalid_argument("ImageSprite::setPivot: (" + std::to_string(x) + ", " +
                                std::to_string(y) + "); each must be " + std::to_string(kLeast) +
                                " to " + std::to_string(kMost));
  }
  Transform& t = editTransform();
  noteChanged();
  t.pivotX = x;
  t.pivotY = y;
  t.hasPivot = true;
}

Point ImageSprite::getPivot() const {
  if (transform().hasPivot) return Point{transform().pivotX, transform().pivotY};
  return Point{static_cast<int32_t>(getWidth() / 2), static_cast<int32_t>(getHeight() / 2)};
}

void ImageSprite::setFilter(ImageFilter filter) {
  checkLock();
  if (filter != ImageFilter::Nearest && filter != ImageFilter::Bilinear) {
    throw std::invalid_argument("ImageSprite::setFilter: unknown filter " +
                                std::to_string(static_cast<int>(filter)) +
                                "; Nearest (0) and Bilinear (1) are allowed");
  }
  Transform& t = editTransform();
  noteChanged();
  t.filter = filter;
}

ImageTransform ImageSprite::sampling() const {
  const Transform& t = transform();
  return ImageTransform{getSourceRect(), isFlippedHorizontally(), isFlippedVertically(),
                        getQuarterTurns(), tintMultipliers(t.tint)};
}

ImageRotation ImageSprite::rotation() const {
  const Transform& t = transform();
  ImageRotation r;
  r.x = x_;
  r.y = y_;
  r.width = getWidth();
  r.height = getHeight();
  r.pivotX2 = t.hasPivot ? 2 * t.pivotX : static_cast<int32_t>(r.width);
  r.pivotY2 = t.hasPivot ? 2 * t.pivotY : static_cast<int32_t>(r.height);
  r.angle = t.angle;
  r.filter = t.filter;
  return r;
}

DrawCommand& ImageSprite::placeRotated(DrawCommand& command) const {
  const ImageTransform sampled = sampling();
  command.rotation = rotation();
  command.bounds = rotatedImageArea(sampled, command.rotation);
  return command;
}

bool ImageSprite::isPlain() const {
  if (!transform_) return true;
  const Transform& t = *transform_;
  return !t.hasSourceRect && t.width == 0 && t.orientation == 0 &&
         tintMultipliers(t.tint) == kNoTint && !isRotated();
}

Rect ImageSprite::bounds() const {
  if (isRotated() && getSourceRect().hasArea()) {
    DrawCommand command;
    return placeRotated(command).bounds;
  }
  // Most sprites have no transform: the image's own size.
  const uint32_t width = transform_ ? getWidth() : image_->getWidth();
  const uint32_t height = transform_ ? getHeight() : image_->getHeight();
  // Never wrapped, which would hide the sprite: the area ends at 2^31 - 1 at
  // the most, and nothing beyond lies on any surface.
  const auto end = [](int32_t start, uint32_t size) {
    return static_cast<int32_t>(std::min<int64_t>(int64_t{start} + size, INT32_MAX));
  };
  return Rect{x_, y_, end(x_, width), end(y_, height)};
}

DrawCommand ImageSprite::getDrawCommand() const {
  DrawCommand command = commonCommand(DrawCommandKind::Image);
  command.image = image_.get();
  if (!transform_) return command;  // plain, from the image's origin
  const Rect source = getSourceRect();
  // An empty image draws nothing, whatever is set: the plain command says so.
  if (isPlain() || !source.hasArea()) {
    command.sourceOrigin = Point{0, 0};
    return command;
  }
  command.sourceOrigin = Point{source.left, source.top};
  command.sourceWidth = static_cast<uint32_t>(source.right - source.left);
  command.sourceHeight = static_cast<uint32_t>(source.bottom - source.top);
  command.orientation = transform().orientation;
  command.tint = tintMultipliers(transform().tint);
  if (isRotated()) placeRotated(command);
  return command;
}

}  // namespace nubrik
