#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "nubrik/base/platform/device_context.h"
#include "nubrik/window/x11_connection.h"
#include "nubrik/window/x11_pixel_format.h"

namespace nubrik {

// Presents rectangles of bands on a window over a connection of its own.
// Calls are serialised by the Screen; the band's memory is not touched after
// a call returns.
//
// With shared memory, each rectangle is converted into the next free part of
// one shared segment (a ring twice the size of the window) and drawn from
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
  // A segment too small for the new size is replaced (once the server is
  // done with it); where no new one can be had, the socket serves.
  void surfaceResized(uint32_t width, uint32_t height) override;

  bool usesSharedMemory() const { return shmAddress_ != nullptr; }
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
  bool flushPerFrame_ = false;
  std::deque<Pending> pending_;
  std::string socketReason_;
  std::vector<uint8_t> scratch_;   // converted rows for the socket
  std::vector<uint8_t> scaled_;    // scaled rows for the socket
  std::vector<uint32_t> widened_;  // a widened row to convert
};

}  // namespace nubrik
