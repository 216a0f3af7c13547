// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/window/x11_connection.h"
#include "nubrik/window/x11_pixel_format.h"

namespace nubrik {

// Presents rectangles of bands on a window over a connection of its own.
// Calls may come from several threads; the band's memory is not touched
// after a call returns.
//
// With shared memory, a visual whose pixels are the engine's words and a
// scale of 1, the segment is the window's picture: it lends its rows to be composed in
// place, and each changed rectangle is drawn from there. Rows are lent only
// once the server has read what was last drawn from them, so the window
// never shows a band half composed.
//
// Otherwise, with shared memory, each rectangle is converted into the next
// free part of one shared segment (a ring twice the size of the window) and drawn from
// there by the server; a part is written again only once the server has
// reported that the request drawing from it is done, so that the window never
// shows pixels meant for another place or a later frame. Without it (the
// extension missing, refused or failing to attach, or not asked for), the
// pixels travel through the socket with XPutImage.
//
// At a scale above 1, each surface pixel is written as a scale x scale
// block while it is converted (into the segment, or into the rows sent
// through the socket). Such a device context lends nothing.
//
// Once the window's presentation has failed (an X error, the connection
// lost, the window destroyed) every call returns at once.
class X11DeviceContext final : public IDeviceContext {
 public:
  // `width` x `height` is the surface, shown `scale` times (1 to
  // WindowOptions::kMaxScale) in each direction. Throws std::runtime_error when the
  // window's visual is not supported, std::invalid_argument for a scale out
  // of range.
  X11DeviceContext(std::unique_ptr<X11Connection> connection, Window window, uint32_t width,
                   uint32_t height, bool trySharedMemory, uint32_t scale = 1);
  ~X11DeviceContext() override;
  X11DeviceContext(const X11DeviceContext&) = delete;
  X11DeviceContext& operator=(const X11DeviceContext&) = delete;

  void presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width, uint32_t rows,
                   int32_t bandTop, const Rect& rect) override;
  // Sends the frame's requests. From its first call on, presentBand leaves
  // them to it instead of sending each one at once.
  void endFrame() override;
  bool lendBand(int32_t bandTop, uint32_t rows, LentBand& out) override;
  void bandChanged(int32_t bandTop, const Rect& rect) override;
  // The picture is remade at the new size, and a ring too small for it is
  // replaced (once the server is done with either); where no new segment
  // can be had, the socket serves.
  void surfaceResized(uint32_t width, uint32_t height) override;

  bool usesSharedMemory() const { return shmAddress_ != nullptr; }
  // Whether bands are composed straight into the shared segment.
  bool lendsRows() const { return lending_; }
  // Why the socket is used; empty with shared memory.
  const std::string& socketReason() const { return socketReason_; }

 private:
  // A part of the segment that a request may still read from.
  struct Pending {
    size_t offset;
    size_t size;
    unsigned long serial;
  };

  bool attachSharedMemory(size_t capacity, std::string& why);
  // Attaches the window's picture where it can be lent, else a ring.
  void attachSegment();
  // Draws a rectangle of the window's picture in the lent segment.
  void putLent(int32_t left, int32_t top, uint32_t width, uint32_t height);
  // Draws a rectangle of an image in the segment whose rows start at `data`,
  // telling when the server is done; returns the request's serial.
  unsigned long putSegment(uint8_t* data, uint32_t imageWidth, uint32_t imageHeight,
                           uint32_t rowBytes, int32_t fromX, int32_t fromY, int32_t toX,
                           int32_t toY, uint32_t width, uint32_t height);
  // Sends the rectangle bandChanged holds back, if any.
  void putHeld();
  // Whether the picture's rows [top, bottom) hold what the window shows,
  // having been drawn whole since the segment was made.
  bool isShown(int32_t top, int32_t bottom) const;
  // Waits until the server has read every part of the segment that
  // overlaps [offset, offset + size); false once presentation has failed.
  bool waitUnread(size_t offset, size_t size);
  void detachSharedMemory();
  // Room for two whole windows: the server may lag a frame behind before
  // presenting waits for it.
  size_t segmentCapacity() const;
  // The surface, as far as a window can show it at the scale.
  uint32_t visibleWidth() const;
  uint32_t visibleHeight() const;
  void presentShared(const uint8_t* pixels, uint32_t pitch, int32_t left, int32_t top,
                     uint32_t width, uint32_t height);
  void presentThroughSocket(const uint8_t* pixels, uint32_t pitch, int32_t left, int32_t top,
                            uint32_t width, uint32_t height);
  // The offset of `size` free bytes of the segment, waiting for the server
  // where needed; false once presentation has failed.
  bool reserve(size_t size, size_t& offset);
  bool waitProcessed(unsigned long serial);
  // Reads what the server has sent without waiting and forgets the requests
  // it is done with.
  void readCompletions();
  bool isProcessed(unsigned long serial) const;
  bool stopped() const;

  std::unique_ptr<X11Connection> connection_;
  Display* display_;
  Window window_;
  GC gc_;
  Visual* visual_ = nullptr;
  X11PixelFormat format_;
  uint32_t width_;
  uint32_t height_;
  uint32_t scale_;

  XShmSegmentInfo shmInfo_{};
  uint8_t* shmAddress_ = nullptr;
  size_t shmCapacity_ = 0;
  size_t head_ = 0;
  // The segment is the window's picture, rows lentPitch_ bytes apart.
  bool lending_ = false;
  uint32_t lentPitch_ = 0;
  // Changed rectangles of one band gathered into one request, where the
  // pixels between them are known to be what the window shows.
  bool holding_ = false;
  int32_t heldBand_ = 0;
  Rect held_{};
  int64_t heldArea_ = 0;
  // Rows drawn whole, which may be sent beyond what changed.
  std::vector<uint8_t> shownRows_;
  uint32_t shownRowCount_ = 0;
  // Xlib calls on this connection come one at a time.
  std::mutex lock_;
  bool flushPerFrame_ = false;
  std::deque<Pending> pending_;
  std::string socketReason_;
  std::vector<uint8_t> scratch_;   // converted rows for the socket
  std::vector<uint8_t> scaled_;    // scaled rows for the socket
  std::vector<uint32_t> widened_;  // a widened row to convert
};

}  // namespace nubrik
