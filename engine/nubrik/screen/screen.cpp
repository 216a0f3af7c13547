#include "nubrik/screen/screen.h"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "nubrik/image/pixel_lock.h"
#include "nubrik/screen/frame_loop.h"

namespace nubrik {

namespace {

uint32_t checkedWidth(uint32_t width, uint32_t height) {
  // A wider surface would leave bands of no rows at all.
  if (width == 0 || width > Screen::kMaxWidth || height == 0 || height > INT32_MAX) {
    throw std::invalid_argument("a Screen needs a width of 1 to 16384 and a non-zero height");
  }
  return width;
}

}  // namespace

Screen::Screen(IDeviceContext* hdc, uint32_t width, uint32_t height)
    : hdc_(hdc),
      width_(checkedWidth(width, height)),
      height_(height),
      spriteManager_(std::make_shared<SpriteManager>()),
      spriteDrawer_(
          std::make_shared<SpriteDrawer>(width, height, 65536 / (width * 4), spriteManager_)) {}

Screen::~Screen() {
  try {
    stopFrameThread();
  } catch (...) {
    // The interrupt could not be set; the Thread's destructor still joins.
  }
}

std::shared_ptr<FillRectSprite> Screen::createFillRectSprite(int32_t id, const Rect& rect,
                                                             int32_t zOrder, const Colour& colour) {
  std::lock_guard lock(sceneLock_);
  auto sprite =
      std::make_shared<FillRectSprite>(spriteManager_, spriteDrawer_, id, rect, zOrder, colour);
  spriteManager_->addSprite(sprite);
  return sprite;
}

std::shared_ptr<ImageSprite> Screen::createImageSprite(int32_t id, int32_t x, int32_t y,
                                                       int32_t zOrder,
                                                       std::shared_ptr<IImage> image) {
  std::lock_guard lock(sceneLock_);
  auto sprite = std::make_shared<ImageSprite>(spriteManager_, spriteDrawer_, id, x, y, zOrder,
                                              std::move(image));
  spriteManager_->addSprite(sprite);
  return sprite;
}

void Screen::addFrameCallback(FrameCallback callback) {
  if (!callback) throw std::invalid_argument("addFrameCallback needs a callable");
  frameCallbacks_.push_back(std::move(callback));
}

void Screen::startFrameThread() {
  stopFrameThread();
  // The Screen stops this thread before any member goes, so `this` holds.
  frameThread_.start([this](ThreadNotifier& notifier) { frameLoop(*this, notifier); });
}

void Screen::stopFrameThread() { frameThread_.stop(); }

void Screen::invalidateAll() {
  std::lock_guard lock(sceneLock_);
  spriteDrawer_->invalidateRect(Rect{0, 0, static_cast<int32_t>(spriteDrawer_->getWidth()),
                                     static_cast<int32_t>(spriteDrawer_->getHeight())});
}

void presentBand(IImage& image, const Rect& rect, IDeviceContext* hdc, int32_t bandTop) {
  if (hdc == nullptr) return;
  PixelLock lock(image);
  hdc->presentBand(lock.pixels(), image.getPitch(), image.getWidth(), image.getHeight(), bandTop,
                   rect);
}

}  // namespace nubrik
