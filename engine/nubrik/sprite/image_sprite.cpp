#include "nubrik/sprite/image_sprite.h"

#include <stdexcept>
#include <utility>

namespace nubrik {

ImageSprite::ImageSprite(std::weak_ptr<IOrderTarget> manager, std::weak_ptr<IRedrawTarget> drawer,
                         int32_t id, int32_t x, int32_t y, int32_t zOrder,
                         std::shared_ptr<IImage> image)
    : SpriteBase(std::move(manager), std::move(drawer), id, zOrder),
      x_(x),
      y_(y),
      image_(std::move(image)) {
  if (!image_) throw std::invalid_argument("an ImageSprite needs an image");
}

void ImageSprite::setImage(std::shared_ptr<IImage> image) {
  if (!image) throw std::invalid_argument("an ImageSprite needs an image");
  noteChanged();
  image_ = std::move(image);
}

Rect ImageSprite::bounds() const {
  // Wrapping arithmetic, as for fills: far-away sprites must not overflow.
  return Rect{x_, y_, static_cast<int32_t>(static_cast<uint32_t>(x_) + image_->getWidth()),
              static_cast<int32_t>(static_cast<uint32_t>(y_) + image_->getHeight())};
}

DrawCommand ImageSprite::getDrawCommand() const {
  DrawCommand command = commonCommand(DrawCommandKind::Image);
  command.sourceOrigin = Point{0, 0};
  command.image = image_.get();
  return command;
}

}  // namespace nubrik
