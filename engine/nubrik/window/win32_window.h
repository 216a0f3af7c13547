#pragma once

#include <cstdint>

#include "nubrik/base/platform/device_context.h"

// The system's handle type, without the system's header.
struct HWND__;

namespace nubrik {

// An existing Win32 window as the engine's users need it: its client size,
// device contexts that present with StretchDIBits, and the cursor in its
// client coordinates. Does not own the window.
class Win32Window final : public IWindow {
 public:
  explicit Win32Window(HWND__* hwnd) : hwnd_(hwnd) {}
  HWND__* handle() const { return hwnd_; }

  uint32_t getClientWidth() const override;
  uint32_t getClientHeight() const override;
  // GetDC: null when the window gives none.
  IDeviceContext* getDC() override;
  // ReleaseDC, for a device context of this window's getDC.
  void releaseDC(IDeviceContext* dc) override;
  Point getCursorPosition() const override;

 private:
  HWND__* hwnd_;
};

}  // namespace nubrik
