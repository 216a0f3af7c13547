#pragma once

#include <memory>

#include "nubrik/image/image.h"
#include "nubrik/sprite/affine_blitters.h"
#include "nubrik/sprite/colour.h"
#include "nubrik/sprite/sprite_base.h"

namespace nubrik {

// An image, or a part of it, at a position: flipped, turned, scaled and
// tinted as set. A new sprite shows its whole image at the image's size,
// untinted.
//
// Target pixel (i, j) of the sprite's area (0 <= i < width, 0 <= j < height)
// shows, by the sampling rule:
// 1. The source rectangle (sx, sy, sw, sh) is flipped, then turned, then
//    scaled. (W', H') is (sw, sh) for 0 and 180 degrees, (sh, sw) for 90
//    and 270.
// 2. u = floor((2i + 1) * W' / (2 * width)), v = floor((2j + 1) * H' / (2 * height)),
//    in 64-bit integers: the nearest sample at the pixel centre.
// 3. Undoing the turn gives (a, b) in the flipped source: 0 degrees (u, v);
//    90 (v, sh - 1 - u); 180 (sw - 1 - u, sh - 1 - v); 270 (sw - 1 - v, u).
// 4. Undoing the flips: a becomes sw - 1 - a when flipped horizontally, b
//    becomes sh - 1 - b when flipped vertically.
// 5. The source pixel is (sx + a, sy + b). With a tint (tr, tg, tb, ta),
//    each of its channels c becomes c * t / 255 rounded to the nearest; alpha
//    is included, and is 255 for a layout without alpha (Grey, Rgb, Rgbx).
// 6. It is blended with the sprite's mode and opacity as an unchanged image
//    of its layout is; tinted, as an Rgba pixel holding the tinted values.
//
// A rotation by any angle then turns that box about its pivot, and the
// filter says how the source is sampled; both follow the rotation rule
// (README, "Rotation by any angle"). The sprite's position stays the box's
// top-left before the turn.
//
// As for every sprite, a change through a setter is redrawn by the next
// frame. The sprite's area is its position and its size; an area
// that would reach past 2^31 - 1 ends there (nothing beyond lies on any
// surface), and is sampled by the rule over what is left of it. Turned or
// filtered, its area is the bounding box of what it can cover, cut likewise;
// the turn is of the whole box.
class ImageSprite final : public SpriteBase {
 public:
  void setPosition(int32_t x, int32_t y) override;
  int32_t getX() const override { return x_; }
  int32_t getY() const override { return y_; }

  const std::shared_ptr<IImage>& getImage() const { return image_; }
  // Throws std::invalid_argument, changing nothing, for an image the
  // constructor refuses, or one that the source rectangle set with
  // setSourceRect does not fit in.
  void setImage(std::shared_ptr<IImage> image);

  // The part of the image shown (a frame of a sheet): inside the image and at
  // least 1 x 1, or std::invalid_argument naming both rectangles. Until set,
  // the whole image, whatever its size.
  void setSourceRect(const Rect& rect);
  Rect getSourceRect() const;

  void setFlip(bool horizontal, bool vertical);
  bool isFlippedHorizontally() const;
  bool isFlippedVertically() const;

  // Clockwise quarter turns, 0 to 3; others throw std::invalid_argument.
  void setQuarterTurns(uint32_t turns);
  uint32_t getQuarterTurns() const;

  // The area's size, 1 to 2^31 - 1 each way (others throw
  // std::invalid_argument). Until set, the source rectangle's size, turned.
  void setSize(uint32_t width, uint32_t height);
  uint32_t getWidth() const;
  uint32_t getHeight() const;

  // Multiplies the source's channels and alpha; 255 everywhere changes
  // nothing. A Grey or Rgb tint has alpha 255. Kinds other than Grey, Rgb,
  // GreyAlpha and Rgba throw std::invalid_argument.
  void setTint(const Colour& tint);
  const Colour& getTint() const { return transform().tint; }

  // Clockwise on screen, any finite number of degrees, kept as 0 to 360
  // (exclusive) in units of 1/65536 degree; getRotation gives it back so.
  // A value that is not finite throws std::invalid_argument.
  void setRotation(double degrees);
  double getRotation() const { return angleDegrees(transform().angle); }

  // The point of the box, before the turn, that the turn leaves in place,
  // from the box's top-left; each coordinate -2^30 to 2^30 - 1 (others throw
  // std::invalid_argument). Until set, the box's centre (getPivot gives it
  // rounded down where the size is odd; the turn is about the exact centre).
  void setPivot(int32_t x, int32_t y);
  Point getPivot() const;

  // Nearest (the default) or Bilinear, for scaling and turning alike; other
  // values throw std::invalid_argument.
  void setFilter(ImageFilter filter);
  ImageFilter getFilter() const { return transform().filter; }

 protected:
  Rect bounds() const override;

 private:
  // Sprites are made by the engine (a program asks its Screen), through
  // makeSprite (sprite_factory.h).
  template <typename>
  friend struct SpriteAllocator;
  // Throws std::invalid_argument for an empty image handle, an image whose
  // pitch is below its row size, or one wider or taller than 2^31 - 1.
  ImageSprite(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer, int32_t id,
              int32_t x, int32_t y, int32_t zOrder, std::shared_ptr<IImage> image);
  DrawCommand getDrawCommand() const override;

  bool isPlain() const;
  // The sampling of the sheet rule (everything but the rotation).
  ImageTransform sampling() const;
  ImageRotation rotation() const;
  // The fields of a rotated or filtered sprite's command that differ from
  // an unrotated one's: the rotation and the bounds.
  DrawCommand& placeRotated(DrawCommand& command) const;
  bool isRotated() const {
    return transform_ && (transform_->angle != 0 || transform_->filter != ImageFilter::Nearest);
  }

  int32_t x_;
  int32_t y_;
  std::shared_ptr<IImage> image_;
  // Kept apart, and only once set: most sprites have none, and every
  // registered sprite's bytes count.
  struct Transform {
    Rect sourceRect;     // when hasSourceRect
    uint32_t width = 0;  // 0: the source rectangle's size, turned
    uint32_t height = 0;
    Colour tint{PixelFormat::Rgba, {255, 255, 255, 255}};
    uint8_t orientation = 0;  // OrientationBits
    bool hasSourceRect = false;
    bool hasPivot = false;  // otherwise the box's centre
    ImageFilter filter = ImageFilter::Nearest;
    int32_t pivotX = 0, pivotY = 0;  // when hasPivot
    uint32_t angle = 0;              // in units of fixed_angle.h
  };
  const Transform& transform() const;
  // The transform to change; made on first use (throws std::bad_alloc).
  Transform& editTransform();

  std::unique_ptr<Transform> transform_;
};

}  // namespace nubrik
