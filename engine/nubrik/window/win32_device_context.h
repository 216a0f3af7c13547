// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>

#include "nubrik/base/platform/device_context.h"

// The system's handle type, without the system's header.
struct HDC__;

namespace nubrik {

// Presents bands to a Win32 device context (a window's, or a memory one)
// with StretchDIBits, straight from the band's rows, each pixel stretched
// to a scale x scale block. Does not own the device context; the Screen
// serialises calls on it.
class Win32DeviceContext final : public IDeviceContext {
 public:
  explicit Win32DeviceContext(HDC__* hdc, uint32_t scale = 1) : hdc_(hdc), scale_(scale) {}
  HDC__* handle() const { return hdc_; }

  void presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width, uint32_t rows,
                   int32_t bandTop, const Rect& rect) override;

 private:
  HDC__* hdc_;
  uint32_t scale_;
};

}  // namespace nubrik
