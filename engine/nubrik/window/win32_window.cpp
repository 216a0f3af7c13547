#include "nubrik/window/win32_window.h"

#include "nubrik/base/platform/win32_api.h"

#include <new>

#include "nubrik/window/win32_device_context.h"

namespace nubrik {

namespace {

RECT clientRect(HWND hwnd) {
  RECT rect{};
  if (!GetClientRect(hwnd, &rect)) return RECT{};
  return rect;
}

}  // namespace

uint32_t Win32Window::getClientWidth() const {
  const RECT rect = clientRect(hwnd_);
  return static_cast<uint32_t>(rect.right - rect.left);
}

uint32_t Win32Window::getClientHeight() const {
  const RECT rect = clientRect(hwnd_);
  return static_cast<uint32_t>(rect.bottom - rect.top);
}

IDeviceContext* Win32Window::getDC() {
  HDC hdc = GetDC(hwnd_);
  if (hdc == nullptr) return nullptr;
  auto* dc = new (std::nothrow) Win32DeviceContext(hdc);
  if (dc == nullptr) ReleaseDC(hwnd_, hdc);
  return dc;
}

void Win32Window::releaseDC(IDeviceContext* dc) {
  auto* own = dynamic_cast<Win32DeviceContext*>(dc);
  if (own == nullptr) return;
  ReleaseDC(hwnd_, own->handle());
  delete own;
}

Point Win32Window::getCursorPosition() const {
  // Screen coordinates, then the window's client coordinates.
  POINT cursor{};
  GetCursorPos(&cursor);
  ScreenToClient(hwnd_, &cursor);
  return Point{cursor.x, cursor.y};
}

}  // namespace nubrik
