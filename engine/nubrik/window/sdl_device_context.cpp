#include "nubrik/window/sdl_device_context.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "nubrik/image/memory_helper.h"
#include "nubrik/window/pixel_scaling.h"

namespace nubrik {

namespace {

// Rectangles listed before the whole surface is shown instead: far more
// than the bands of any frame change.
constexpr size_t kMaxChanged = 4096;

}  // namespace

SdlDeviceContext::SdlDeviceContext(SDL_Window* window, uint32_t scale,
                                   std::function<void()> requestPresent)
    : window_(window), scale_(scale), requestPresent_(std::move(requestPresent)) {
  checkScale(scale);
}

SdlDeviceContext::Target SdlDeviceContext::targetLocked() const {
  Target target;
  target.pixels = pixels_;
  target.pitch = pitch_;
  target.format = format_;
  target.identity = format_ == SDL_PIXELFORMAT_RGB888;
  target.canvasWidth = canvasWidth_;
  target.canvasHeight = canvasHeight_;
  target.width = std::min(surfaceWidth_, canvasWidth_ / scale_);
  target.height = std::min(surfaceHeight_, canvasHeight_ / scale_);
  return target;
}

SdlDeviceContext::Target SdlDeviceContext::beginWriting() {
  std::unique_lock lock(lock_);
  idle_.wait(lock, [this] { return !busy_; });
  composing_ = true;
  return targetLocked();
}

bool SdlDeviceContext::composesInPlace() const {
  std::lock_guard lock(lock_);
  return scale_ == 1 && pixels_ != nullptr && format_ == SDL_PIXELFORMAT_RGB888;
}

uint32_t SdlDeviceContext::getCanvasWidth() const {
  std::lock_guard lock(lock_);
  return canvasWidth_;
}

uint32_t SdlDeviceContext::getCanvasHeight() const {
  std::lock_guard lock(lock_);
  return canvasHeight_;
}

void SdlDeviceContext::changed(const Rect& rect) {
  std::lock_guard lock(lock_);
  if (whole_) return;
  if (changed_.size() >= kMaxChanged) {
    whole_ = true;
    changed_.clear();
    return;
  }
  changed_.push_back(rect);
}

void SdlDeviceContext::presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width,
                                   uint32_t rows, int32_t bandTop, const Rect& rect) {
  const Target t = beginWriting();
  if (t.pixels == nullptr) return;
  // Only what lies in the band and in the window is written.
  const int64_t left = std::max<int64_t>(rect.left, 0);
  const int64_t right = std::min<int64_t>({rect.right, width, t.width});
  const int64_t top = std::max<int64_t>({rect.top, bandTop, 0});
  const int64_t bottom = std::min<int64_t>({rect.bottom, int64_t{bandTop} + rows, t.height});
  if (left >= right || top >= bottom) return;
  const uint8_t* source = pixels + (top - bandTop) * int64_t{pitch} + left * 4;
  const auto w = static_cast<uint32_t>(right - left), h = static_cast<uint32_t>(bottom - top);
  const uint32_t k = scale_;
  const int bytes = SDL_BYTESPERPIXEL(t.format);
  uint8_t* target =
      t.pixels + static_cast<size_t>(top) * k * t.pitch + static_cast<size_t>(left) * k * bytes;
  if (t.identity && k == 1) {
    for (uint32_t y = 0; y < h; ++y) {
      std::memcpy(target + size_t{y} * t.pitch, source + size_t{y} * pitch, size_t{w} * 4);
    }
  } else if (t.identity) {
    scalePixels(source, pitch, w, h, k, target, t.pitch);
  } else if (k == 1) {
    SDL_ConvertPixels(static_cast<int>(w), static_cast<int>(h), SDL_PIXELFORMAT_RGB888, source,
                      static_cast<int>(pitch), t.format, target, static_cast<int>(t.pitch));
  } else {
    // At most the window's size, as the surface holds anyway.
    thread_local std::vector<uint8_t> scaled;
    const size_t scaledPitch = size_t{w} * k * 4;
    scaled.resize(scaledPitch * h * k);
    scalePixels(source, pitch, w, h, k, scaled.data(), scaledPitch);
    SDL_ConvertPixels(static_cast<int>(w * k), static_cast<int>(h * k), SDL_PIXELFORMAT_RGB888,
                      scaled.data(), static_cast<int>(scaledPitch), t.format, target,
                      static_cast<int>(t.pitch));
  }
  changed(Rect{static_cast<int32_t>(left * k), static_cast<int32_t>(top * k),
               static_cast<int32_t>(right * k), static_cast<int32_t>(bottom * k)});
}

bool SdlDeviceContext::lendBand(int32_t bandTop, uint32_t rows, LentBand& out) {
  const Target t = beginWriting();
  if (t.pixels == nullptr || !t.identity || scale_ != 1 || bandTop < 0 ||
      static_cast<uint32_t>(bandTop) >= t.canvasHeight) {
    return false;
  }
  out.pixels = t.pixels + static_cast<size_t>(bandTop) * t.pitch;
  out.pitch = t.pitch;
  out.width = t.canvasWidth;
  out.rows = std::min(rows, t.canvasHeight - static_cast<uint32_t>(bandTop));
  return true;
}

void SdlDeviceContext::bandChanged(int32_t bandTop, const Rect& rect) {
  Target t;
  {
    std::lock_guard lock(lock_);
    t = targetLocked();
  }
  const int32_t right = std::min<int64_t>(rect.right, t.width);
  const int32_t bottom = std::min<int64_t>(rect.bottom, t.height);
  const Rect clipped{std::max(rect.left, 0), std::max({rect.top, bandTop, 0}), right, bottom};
  if (clipped.hasArea()) changed(clipped);
}

void SdlDeviceContext::endFrame() {
  bool ask;
  {
    std::lock_guard lock(lock_);
    composing_ = false;
    ask = whole_ || !changed_.empty() || wantsSurface_ || marginStale_;
  }
  idle_.notify_all();
  if (ask) request();
}

void SdlDeviceContext::request() {
  if (!requested_.exchange(true)) requestPresent_();
}

void SdlDeviceContext::surfaceResized(uint32_t width, uint32_t height) {
  std::lock_guard lock(lock_);
  surfaceWidth_ = width;
  surfaceHeight_ = height;
  marginStale_ = true;
}

void SdlDeviceContext::paintMarginLocked() {
  if (surface_ == nullptr) return;
  const uint64_t right = uint64_t{surfaceWidth_} * scale_,
                 bottom = uint64_t{surfaceHeight_} * scale_;
  const Uint32 black = SDL_MapRGB(surface_->format, 0, 0, 0);
  if (right < canvasWidth_) {
    SDL_Rect r{static_cast<int>(right), 0, static_cast<int>(canvasWidth_ - right),
               static_cast<int>(canvasHeight_)};
    SDL_FillRect(surface_, &r, black);
  }
  if (bottom < canvasHeight_) {
    SDL_Rect r{0, static_cast<int>(bottom), static_cast<int>(canvasWidth_),
               static_cast<int>(canvasHeight_ - bottom)};
    SDL_FillRect(surface_, &r, black);
  }
}

bool SdlDeviceContext::takeSurface() {
  {
    std::lock_guard lock(lock_);
    if (composing_) {
      wantsSurface_ = true;
      return false;
    }
    busy_ = true;
  }
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  const std::string why = surface != nullptr ? std::string() : SDL_GetError();
  if (surface != nullptr) SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
  {
    std::lock_guard lock(lock_);
    busy_ = false;
    wantsSurface_ = false;
    marginStale_ = false;
    changed_.clear();
    surface_ = surface;
    pixels_ = surface != nullptr ? static_cast<uint8_t*>(surface->pixels) : nullptr;
    pitch_ = surface != nullptr ? static_cast<uint32_t>(surface->pitch) : 0;
    format_ = surface != nullptr ? surface->format->format : 0;
    canvasWidth_ = surface != nullptr ? static_cast<uint32_t>(surface->w) : 0;
    canvasHeight_ = surface != nullptr ? static_cast<uint32_t>(surface->h) : 0;
    whole_ = surface != nullptr;
  }
  idle_.notify_all();
  if (surface == nullptr)
    throw std::runtime_error("SDL gives the window no surface to draw on: " + why);
  return true;
}

bool SdlDeviceContext::present(bool whole) {
  // A frame that ends from here on asks again.
  requested_ = false;
  bool took = false;
  std::unique_lock lock(lock_);
  if (wantsSurface_ && !composing_) {
    lock.unlock();
    took = takeSurface();
    lock.lock();
  }
  if (composing_ || surface_ == nullptr) {
    // Shown once the frame ends.
    whole_ = whole_ || whole;
    return took;
  }
  if (marginStale_) {
    paintMarginLocked();
    marginStale_ = false;
    whole = true;
  }
  std::vector<SDL_Rect> rects;
  if (whole || whole_) {
    rects.push_back(
        SDL_Rect{0, 0, static_cast<int>(canvasWidth_), static_cast<int>(canvasHeight_)});
  } else {
    rects.reserve(changed_.size());
    for (const Rect& r : changed_)
      rects.push_back(SDL_Rect{r.left, r.top, r.right - r.left, r.bottom - r.top});
  }
  changed_.clear();
  whole_ = false;
  if (rects.empty()) return took;
  busy_ = true;
  lock.unlock();
  // SDL has read the pixels when this returns (X11 waits for the server).
  SDL_UpdateWindowSurfaceRects(window_, rects.data(), static_cast<int>(rects.size()));
  lock.lock();
  busy_ = false;
  lock.unlock();
  idle_.notify_all();
  return took;
}

std::shared_ptr<Image> SdlDeviceContext::capture(std::chrono::milliseconds patience) {
  std::unique_lock lock(lock_);
  if (!idle_.wait_for(lock, patience, [this] { return !composing_ && !busy_; }) ||
      pixels_ == nullptr) {
    return nullptr;
  }
  busy_ = true;
  const Target t = targetLocked();
  lock.unlock();
  std::shared_ptr<Image> image;
  try {
    const size_t bytes = size_t{t.canvasWidth} * t.canvasHeight * 4;
    auto pixels = MemoryHelper::allocate(std::max<size_t>(bytes, 4));
    SDL_ConvertPixels(static_cast<int>(t.canvasWidth), static_cast<int>(t.canvasHeight), t.format,
                      t.pixels, static_cast<int>(t.pitch), SDL_PIXELFORMAT_RGB888, pixels.get(),
                      static_cast<int>(t.canvasWidth * 4));
    image = std::make_shared<Image>(t.canvasWidth, t.canvasHeight, t.canvasWidth * 4,
                                    std::move(pixels));
  } catch (...) {
    lock.lock();
    busy_ = false;
    lock.unlock();
    idle_.notify_all();
    throw;
  }
  lock.lock();
  busy_ = false;
  lock.unlock();
  idle_.notify_all();
  return image;
}

}  // namespace nubrik
