#pragma once

#include <memory>

#include "nubrik/image/image.h"
#include "nubrik/sprite/sprite_base.h"

namespace nubrik {

// A whole image at a position; its size is always its image's size.
class ImageSprite final : public SpriteBase {
 public:
  // Throws std::invalid_argument for an empty image handle.
  ImageSprite(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer, int32_t id,
              int32_t x, int32_t y, int32_t zOrder, std::shared_ptr<IImage> image);

  void setPosition(int32_t x, int32_t y) override {
    noteChanged();
    x_ = x;
    y_ = y;
  }
  int32_t getX() const override { return x_; }
  int32_t getY() const override { return y_; }
  DrawCommand getDrawCommand() const override;

  const std::shared_ptr<IImage>& getImage() const { return image_; }
  // Stores only, like every setter: the owner reports the old and the new
  // area with invalidate(). Throws std::invalid_argument for an empty handle.
  void setImage(std::shared_ptr<IImage> image);

 protected:
  Rect bounds() const override;

 private:
  int32_t x_;
  int32_t y_;
  std::shared_ptr<IImage> image_;
};

}  // namespace nubrik
