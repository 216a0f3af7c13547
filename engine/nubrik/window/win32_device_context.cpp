#include "nubrik/window/win32_device_context.h"

#include <algorithm>

#include "nubrik/base/platform/win32_api.h"

namespace nubrik {

void Win32DeviceContext::presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width,
                                     uint32_t rows, int32_t bandTop, const Rect& rect) {
  // Only what lies inside the band and the surface: the system would read
  // outside the band's rows otherwise.
  const int64_t left = std::max<int64_t>(rect.left, 0);
  const int64_t right = std::min<int64_t>(rect.right, width);
  const int64_t top = std::max<int64_t>(rect.top, bandTop);
  const int64_t bottom = std::min<int64_t>(rect.bottom, int64_t{bandTop} + rows);
  if (pixels == nullptr || left >= right || top >= bottom || pitch % 4 != 0 || pitch / 4 < width ||
      rows > 0x7FFFFFFF || pitch / 4 > 0x7FFFFFFF) {
    return;
  }

  // One header and one zeroed colour entry. The height is positive: the
  // system takes the rows as a bottom-up bitmap.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  // The system's row length is the header's width: the band's pitch in pixels.
  info.bmiHeader.biWidth = static_cast<LONG>(pitch / 4);
  info.bmiHeader.biHeight = static_cast<LONG>(rows);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = pitch * rows;

  // A negative source height flips the bottom-up rows back, so that window
  // row y shows band row y - bandTop counted from the first row in memory;
  // a negative extent counts from its starting row inclusive, hence the + 1.
  const auto l = static_cast<int>(left), t = static_cast<int>(top);
  const auto r = static_cast<int>(right), b = static_cast<int>(bottom);
  // A failed transfer leaves that part of the window until it is drawn again.
  const auto k = static_cast<int>(scale_);
  StretchDIBits(hdc_, l * k, t * k, (r - l) * k, (b - t) * k, l, b - bandTop + 1, r - l, t - b,
                pixels, &info, DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace nubrik
