#include "nubrik/window/x11_device_context.h"

#include <X11/Xutil.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "nubrik/window/pixel_scaling.h"

namespace nubrik {

namespace {

// The X protocol's coordinates are 16-bit signed: no window shows more.
constexpr uint32_t kMaxSide = 32767;

// Parts of the segment start on cache lines.
constexpr size_t kAlignment = 64;
// A server that has not drawn what it was sent for this long is taken as gone.
constexpr auto kServerPatience = std::chrono::seconds(10);
// Drawing requests from the window's picture not yet known to be done.
constexpr size_t kMaxPending = 4096;
// What a drawing request costs the server, in pixels copied.
constexpr int64_t kRequestPixels = 32768;

size_t alignUp(size_t n) { return (n + kAlignment - 1) / kAlignment * kAlignment; }

const char* errorName(int code) {
  switch (code) {
    case BadAccess:
      return "BadAccess";
    case BadAlloc:
      return "BadAlloc";
    case BadValue:
      return "BadValue";
    case BadImplementation:
      return "BadImplementation";
    default:
      return "an X error";
  }
}

}  // namespace

X11DeviceContext::X11DeviceContext(std::unique_ptr<X11Connection> connection, Window window,
                                   uint32_t width, uint32_t height, bool trySharedMemory,
                                   uint32_t scale)
    : connection_(std::move(connection)),
      display_(connection_->get()),
      window_(window),
      gc_(XCreateGC(display_, window, 0, nullptr)),
      width_(width),
      height_(height),
      scale_(scale) {
  try {
    checkScale(scale);
  } catch (...) {
    XFreeGC(display_, gc_);
    throw;
  }
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display_, window_, &attributes) == 0 || attributes.visual == nullptr) {
    XFreeGC(display_, gc_);
    throw std::runtime_error("the window is gone");
  }
  visual_ = attributes.visual;
  try {
    format_ = X11PixelFormat::forVisual(display_, visual_, attributes.depth);
  } catch (...) {
    XFreeGC(display_, gc_);
    throw;
  }
  if (!trySharedMemory) {
    socketReason_ = "shared memory was not asked for";
    return;
  }
  std::string why;
  attachSegment();
}

void X11DeviceContext::attachSegment() {
  std::string why;
  if (format_.isIdentity() && scale_ == 1) {
    // The window's picture, composed in place.
    lentPitch_ = format_.rowBytes(visibleWidth());
    if (attachSharedMemory(std::max<size_t>(size_t{lentPitch_} * visibleHeight(), 64 * 1024),
                           why)) {
      lending_ = true;
      shownRows_.assign(visibleHeight(), 0);
      shownRowCount_ = 0;
    } else {
      socketReason_ = why;
    }
    return;
  }
  if (!attachSharedMemory(segmentCapacity(), why)) socketReason_ = why;
}

size_t X11DeviceContext::segmentCapacity() const {
  return std::max<size_t>(
      alignUp(size_t{format_.rowBytes(visibleWidth() * scale_)} * visibleHeight() * scale_) * 2,
      64 * 1024);
}

uint32_t X11DeviceContext::visibleWidth() const { return std::min(width_, kMaxSide / scale_); }

uint32_t X11DeviceContext::visibleHeight() const { return std::min(height_, kMaxSide / scale_); }

void X11DeviceContext::surfaceResized(uint32_t width, uint32_t height) {
  std::lock_guard lock(lock_);
  width_ = width;
  height_ = height;
  if (shmAddress_ == nullptr || stopped()) return;
  // The picture is remade at the new size; a ring is replaced only to grow.
  if (!lending_ && segmentCapacity() <= shmCapacity_) return;
  putHeld();
  detachSharedMemory();
  attachSegment();
}

void X11DeviceContext::detachSharedMemory() {
  XShmDetach(display_, &shmInfo_);
  // The server has drawn from and let go of the segment after this.
  XSync(display_, False);
  shmdt(shmAddress_);
  shmAddress_ = nullptr;
  shmInfo_ = {};
  shmCapacity_ = 0;
  head_ = 0;
  pending_.clear();
  lending_ = false;
  holding_ = false;
}

bool X11DeviceContext::attachSharedMemory(size_t capacity, std::string& why) {
  if (!XShmQueryExtension(display_)) {
    why = "the display offers no shared memory (MIT-SHM)";
    return false;
  }
  int opcode = 0, firstEvent = 0, firstError = 0;
  if (XQueryExtension(display_, "MIT-SHM", &opcode, &firstEvent, &firstError)) {
    connection_->nameExtension(opcode, "MIT-SHM");
  }
  const int id = shmget(IPC_PRIVATE, capacity, IPC_CREAT | 0600);
  if (id < 0) {
    why = std::string("no shared memory segment of ") + std::to_string(capacity) +
          " bytes: " + std::strerror(errno);
    return false;
  }
  void* address = shmat(id, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    why = std::string("cannot map the shared memory segment: ") + std::strerror(errno);
    shmctl(id, IPC_RMID, nullptr);
    return false;
  }
  shmInfo_.shmid = id;
  shmInfo_.shmaddr = static_cast<char*>(address);
  shmInfo_.readOnly = True;  // the server only reads
  connection_->beginTrap();
  const Bool sent = XShmAttach(display_, &shmInfo_);
  const int error = connection_->endTrap();
  // Removed now, freed when both sides have let go, whatever happens later.
  shmctl(id, IPC_RMID, nullptr);
  if (!sent || error != 0 || connection_->isLost()) {
    shmdt(address);
    shmInfo_ = {};
    why = std::string("the X server cannot attach shared memory (") +
          (error != 0 ? errorName(error) : "no answer") + "; a remote display?)";
    return false;
  }
  shmAddress_ = static_cast<uint8_t*>(address);
  shmCapacity_ = capacity;
  return true;
}

X11DeviceContext::~X11DeviceContext() {
  // On a lost connection these calls only free what Xlib holds.
  XFreeGC(display_, gc_);
  if (shmAddress_ != nullptr) detachSharedMemory();
  connection_.reset();
}

bool X11DeviceContext::stopped() const {
  return connection_->failure().hasFailed() || connection_->isLost();
}

void X11DeviceContext::presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width,
                                   uint32_t rows, int32_t bandTop, const Rect& rect) {
  std::lock_guard lock(lock_);
  if (stopped()) return;
  // Only what lies in the band and in the window is drawn.
  const int64_t left = std::max<int64_t>(rect.left, 0);
  const int64_t right = std::min<int64_t>({rect.right, width, visibleWidth()});
  const int64_t top = std::max<int64_t>({rect.top, bandTop, 0});
  const int64_t bottom = std::min<int64_t>({rect.bottom, int64_t{bandTop} + rows, visibleHeight()});
  if (left >= right || top >= bottom) return;
  const uint8_t* first = pixels + (top - bandTop) * int64_t{pitch} + left * 4;
  const auto w = static_cast<uint32_t>(right - left);
  const auto h = static_cast<uint32_t>(bottom - top);
  if (lending_) {
    putHeld();
    // Into the window's picture, where the rectangle belongs.
    const size_t offset = size_t(top) * lentPitch_;
    if (!waitUnread(offset, size_t{h} * lentPitch_)) return;
    for (uint32_t y = 0; y < h; ++y) {
      std::memcpy(shmAddress_ + offset + size_t{y} * lentPitch_ + size_t(left) * 4,
                  first + size_t{y} * pitch, size_t{w} * 4);
    }
    putLent(static_cast<int32_t>(left), static_cast<int32_t>(top), w, h);
  } else if (shmAddress_ != nullptr) {
    presentShared(first, pitch, static_cast<int32_t>(left), static_cast<int32_t>(top), w, h);
  } else if (scale_ == 1) {
    presentThroughSocket(first, pitch, static_cast<int32_t>(left), static_cast<int32_t>(top), w, h);
  } else {
    // At most the window's size, which the server holds anyway.
    const uint32_t scaledPitch = w * scale_ * 4;
    scaled_.resize(size_t{scaledPitch} * h * scale_);
    scalePixels(first, pitch, w, h, scale_, scaled_.data(), scaledPitch);
    presentThroughSocket(scaled_.data(), scaledPitch, static_cast<int32_t>(left * scale_),
                         static_cast<int32_t>(top * scale_), w * scale_, h * scale_);
  }
  // Each flush wakes the server: once a frame when the caller says when it ends.
  if (!flushPerFrame_) XFlush(display_);
}

void X11DeviceContext::endFrame() {
  std::lock_guard lock(lock_);
  flushPerFrame_ = true;
  if (stopped()) return;
  putHeld();
  XFlush(display_);
  // What the server has finished with is let go once a frame.
  if (lending_) readCompletions();
}

bool X11DeviceContext::lendBand(int32_t bandTop, uint32_t rows, LentBand& out) {
  std::lock_guard lock(lock_);
  if (!lending_ || stopped() || bandTop < 0 || uint32_t(bandTop) >= visibleHeight() || rows == 0) {
    return false;
  }
  const uint32_t lent = std::min(rows, visibleHeight() - uint32_t(bandTop));
  const size_t offset = size_t(bandTop) * lentPitch_;
  if (!waitUnread(offset, size_t{lent} * lentPitch_)) return false;
  out = LentBand{shmAddress_ + offset, lentPitch_, visibleWidth(), lent};
  return true;
}

void X11DeviceContext::bandChanged(int32_t bandTop, const Rect& rect) {
  std::lock_guard lock(lock_);
  if (!lending_ || stopped()) return;
  const Rect clipped{std::max(rect.left, 0), std::max(rect.top, 0),
                     static_cast<int32_t>(std::min<int64_t>(rect.right, visibleWidth())),
                     static_cast<int32_t>(std::min<int64_t>(rect.bottom, visibleHeight()))};
  if (clipped.left >= clipped.right || clipped.top >= clipped.bottom) return;
  // A band's rectangles come together. Near ones go as one request: the
  // server pays more for a request than for the pixels between them, which
  // the picture holds as they are shown.
  const int64_t area = int64_t{clipped.right - clipped.left} * (clipped.bottom - clipped.top);
  if (holding_ && heldBand_ == bandTop) {
    const Rect both{std::min(held_.left, clipped.left), std::min(held_.top, clipped.top),
                    std::max(held_.right, clipped.right), std::max(held_.bottom, clipped.bottom)};
    const int64_t bothArea = int64_t{both.right - both.left} * (both.bottom - both.top);
    if (bothArea <= heldArea_ + area + kRequestPixels && isShown(both.top, both.bottom)) {
      held_ = both;
      heldArea_ += area;
      return;
    }
  }
  putHeld();
  holding_ = true;
  heldBand_ = bandTop;
  held_ = clipped;
  heldArea_ = area;
}

void X11DeviceContext::putHeld() {
  if (!holding_) return;
  holding_ = false;
  putLent(held_.left, held_.top, static_cast<uint32_t>(held_.right - held_.left),
          static_cast<uint32_t>(held_.bottom - held_.top));
}

bool X11DeviceContext::isShown(int32_t top, int32_t bottom) const {
  if (shownRowCount_ == visibleHeight()) return true;
  return std::all_of(shownRows_.begin() + top, shownRows_.begin() + bottom,
                     [](uint8_t shown) { return shown != 0; });
}

void X11DeviceContext::putLent(int32_t left, int32_t top, uint32_t width, uint32_t height) {
  // Bounded whatever the caller: once the list is long, the oldest is waited for.
  if (pending_.size() >= kMaxPending && !waitProcessed(pending_.front().serial)) return;
  if (left == 0 && width == visibleWidth() && shownRowCount_ < visibleHeight()) {
    for (uint32_t y = uint32_t(top); y < uint32_t(top) + height; ++y) {
      shownRowCount_ += shownRows_[y] == 0 ? 1 : 0;
      shownRows_[y] = 1;
    }
  }
  const unsigned long serial = putSegment(shmAddress_, visibleWidth(), visibleHeight(), lentPitch_,
                                          left, top, left, top, width, height);
  pending_.push_back(Pending{size_t(top) * lentPitch_, size_t{height} * lentPitch_, serial});
  if (!flushPerFrame_) XFlush(display_);
}

unsigned long X11DeviceContext::putSegment(uint8_t* data, uint32_t imageWidth, uint32_t imageHeight,
                                           uint32_t rowBytes, int32_t fromX, int32_t fromY,
                                           int32_t toX, int32_t toY, uint32_t width,
                                           uint32_t height) {
  // XShmPutImage reads only the geometry and the segment of the image.
  XImage image{};
  image.width = static_cast<int>(imageWidth);
  image.height = static_cast<int>(imageHeight);
  image.format = ZPixmap;
  image.data = reinterpret_cast<char*>(data);
  image.byte_order = format_.byteOrder();
  image.bitmap_unit = BitmapUnit(display_);
  image.bitmap_bit_order = BitmapBitOrder(display_);
  image.bitmap_pad = BitmapPad(display_);
  image.depth = format_.depth();
  image.bytes_per_line = static_cast<int>(rowBytes);
  image.bits_per_pixel = static_cast<int>(format_.bytesPerPixel() * 8);
  image.obdata = reinterpret_cast<char*>(&shmInfo_);
  const unsigned long serial = NextRequest(display_);
  XShmPutImage(display_, window_, gc_, &image, fromX, fromY, toX, toY, width, height, True);
  return serial;
}

bool X11DeviceContext::waitUnread(size_t offset, size_t size) {
  unsigned long needed = 0;
  for (const Pending& p : pending_) {
    if (p.offset < offset + size && offset < p.offset + p.size) needed = std::max(needed, p.serial);
  }
  if (needed != 0 && !isProcessed(needed) && !waitProcessed(needed)) return false;
  while (!pending_.empty() && isProcessed(pending_.front().serial)) pending_.pop_front();
  return true;
}

void X11DeviceContext::presentShared(const uint8_t* pixels, uint32_t pitch, int32_t left,
                                     int32_t top, uint32_t width, uint32_t height) {
  const uint32_t k = scale_;
  const uint32_t rowBytes = format_.rowBytes(width * k);
  // Pieces of at most half the segment, so that one never waits for itself
  // (the segment holds two windows, so one row of blocks always fits).
  const uint32_t rowsPerPiece =
      static_cast<uint32_t>(std::max<size_t>(1, shmCapacity_ / 2 / (size_t{rowBytes} * k)));
  for (uint32_t done = 0; done < height;) {
    const uint32_t rows = std::min(rowsPerPiece, height - done);
    const size_t bytes = alignUp(size_t{rowBytes} * rows * k);
    size_t offset = 0;
    if (!reserve(bytes, offset)) return;
    uint8_t* target = shmAddress_ + offset;
    const uint8_t* source = pixels + size_t{done} * pitch;
    if (k == 1) {
      for (uint32_t y = 0; y < rows; ++y) {
        format_.convertRow(reinterpret_cast<const uint32_t*>(source + size_t{y} * pitch), width,
                           target + size_t{y} * rowBytes);
      }
    } else if (format_.isIdentity()) {
      scalePixels(source, pitch, width, rows, k, target, rowBytes);
    } else {
      // Widened, converted once, then the row repeated.
      widened_.resize(size_t{width} * k);
      for (uint32_t y = 0; y < rows; ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(source + size_t{y} * pitch);
        for (uint32_t x = 0; x < width * k; ++x) widened_[x] = in[x / k];
        uint8_t* first = target + size_t{y} * k * rowBytes;
        format_.convertRow(widened_.data(), width * k, first);
        for (uint32_t i = 1; i < k; ++i) std::memcpy(first + size_t{i} * rowBytes, first, rowBytes);
      }
    }
    const unsigned long serial =
        putSegment(target, width * k, rows * k, rowBytes, 0, 0, static_cast<int32_t>(left * k),
                   static_cast<int32_t>((top + done) * k), width * k, rows * k);
    pending_.push_back(Pending{offset, bytes, serial});
    done += rows;
  }
}

void X11DeviceContext::presentThroughSocket(const uint8_t* pixels, uint32_t pitch, int32_t left,
                                            int32_t top, uint32_t width, uint32_t height) {
  const char* data;
  uint32_t rowBytes;
  if (format_.isIdentity()) {
    // Straight from the band's rows: Xlib has sent them when XPutImage returns.
    data = reinterpret_cast<const char*>(pixels);
    rowBytes = pitch;
  } else {
    rowBytes = format_.rowBytes(width);
    scratch_.resize(size_t{rowBytes} * height);
    for (uint32_t y = 0; y < height; ++y) {
      format_.convertRow(reinterpret_cast<const uint32_t*>(pixels + size_t{y} * pitch), width,
                         scratch_.data() + size_t{y} * rowBytes);
    }
    data = reinterpret_cast<const char*>(scratch_.data());
  }
  XImage* image = XCreateImage(display_, visual_, static_cast<unsigned>(format_.depth()), ZPixmap,
                               0, const_cast<char*>(data), width, height, BitmapPad(display_),
                               static_cast<int>(rowBytes));
  if (image == nullptr) return;
  image->byte_order = format_.byteOrder();
  image->bits_per_pixel = static_cast<int>(format_.bytesPerPixel() * 8);
  XPutImage(display_, window_, gc_, image, 0, 0, left, top, width, height);
  image->data = nullptr;  // not ours to free
  XDestroyImage(image);
}

bool X11DeviceContext::isProcessed(unsigned long serial) const {
  return LastKnownRequestProcessed(display_) >= serial;
}

void X11DeviceContext::readCompletions() {
  if (XEventsQueued(display_, QueuedAfterReading) > 0) {
    // Only completions arrive here: this connection selects no events.
    XEvent event;
    while (QLength(display_) > 0) XNextEvent(display_, &event);
  }
  while (!pending_.empty() && isProcessed(pending_.front().serial)) pending_.pop_front();
}

bool X11DeviceContext::reserve(size_t size, size_t& offset) {
  size_t start = head_;
  if (start + size > shmCapacity_) {
    start = 0;
    // Once per lap: what the server has finished with is let go.
    readCompletions();
  }
  if (!waitUnread(start, size)) return false;
  head_ = start + size;
  offset = start;
  return true;
}

bool X11DeviceContext::waitProcessed(unsigned long serial) {
  const auto deadline = std::chrono::steady_clock::now() + kServerPatience;
  XFlush(display_);
  while (true) {
    readCompletions();
    if (isProcessed(serial)) return true;
    if (stopped()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      connection_->failure().report("the X server has stopped drawing (no answer for " +
                                    std::to_string(kServerPatience.count()) + " seconds)");
      return false;
    }
    pollfd descriptor{ConnectionNumber(display_), POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    poll(&descriptor, 1, static_cast<int>(std::min<int64_t>(left.count() + 1, 100)));
  }
}

}  // namespace nubrik
