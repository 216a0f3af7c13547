#include "nubrik/window/win32_device_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "nubrik/base/platform/win32_api.h"

namespace nubrik {
namespace {

// A memory device context over a top-down 32-bit bitmap whose pixels the
// test reads back: the stand-in for a window.
class MemorySurface {
 public:
  MemorySurface(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    pixels_ = static_cast<uint32_t*>(bits);
    if (bitmap_ != nullptr) old_ = SelectObject(dc_, bitmap_);
  }
  ~MemorySurface() {
    if (old_ != nullptr) SelectObject(dc_, old_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  bool ok() const { return dc_ != nullptr && pixels_ != nullptr; }
  HDC dc() const { return dc_; }
  void fill(uint32_t value) {
    GdiFlush();
    std::fill(pixels_, pixels_ + width_ * height_, value);
  }
  // After GdiFlush.
  uint32_t at(int x, int y) const { return pixels_[y * width_ + x] & 0xFFFFFF; }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  uint32_t* pixels_ = nullptr;
};

void presentRowForRow(int k) {
  constexpr int kWidth = 48, kHeight = 128;
  constexpr uint32_t kUntouched = 0x123456;
  MemorySurface surface(kWidth * k, kHeight * k);
  ASSERT_TRUE(surface.ok());
  Win32DeviceContext context(surface.dc(), static_cast<uint32_t>(k));

  struct Case {
    int32_t bandTop;
    uint32_t rows;
    Rect rect;
  };
  // First the plain case: rows 43 to 50 of the band at row 40 come from
  // buffer rows 3 to 10. Then generated bands and rectangles, some reaching
  // past the band.
  std::vector<Case> cases{{40, 20, {5, 43, 17, 51}}, {0, 20, {0, 0, kWidth, 20}}};
  std::mt19937 random(13);
  for (int i = 0; i < 60; ++i) {
    const uint32_t rows = 1 + random() % 24;
    const auto bandTop = static_cast<int32_t>(random() % (kHeight - rows + 1));
    const int32_t left = random() % kWidth;
    const int32_t right = left + 1 + random() % (kWidth - left);
    const int32_t top = bandTop + static_cast<int32_t>(random() % rows) - (i % 7 == 0 ? 2 : 0);
    const int32_t bottom = top + 1 + static_cast<int32_t>(random() % rows) + (i % 5 == 0 ? 3 : 0);
    cases.push_back({bandTop, rows, {left, top, right, bottom}});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "band at " << c.bandTop << ", " << c.rows << " rows, rect " << c.rect.left
                 << "," << c.rect.top << " - " << c.rect.right << "," << c.rect.bottom);
    // Each band pixel names its own row and column.
    const uint32_t pitch = kWidth * 4;
    std::vector<uint32_t> band(kWidth * c.rows);
    for (uint32_t y = 0; y < c.rows; ++y) {
      for (uint32_t x = 0; x < kWidth; ++x) band[y * kWidth + x] = 0xA00000 | (y << 8) | x;
    }
    surface.fill(kUntouched);
    context.presentBand(reinterpret_cast<const uint8_t*>(band.data()), pitch, kWidth, c.rows,
                        c.bandTop, c.rect);
    GdiFlush();
    int wrong = 0;
    for (int wy = 0; wy < kHeight * k; ++wy) {
      for (int wx = 0; wx < kWidth * k; ++wx) {
        const int x = wx / k, y = wy / k;
        const bool inside = x >= c.rect.left && x < c.rect.right && y >= c.rect.top &&
                            y < c.rect.bottom && y >= c.bandTop &&
                            y < c.bandTop + static_cast<int32_t>(c.rows);
        const uint32_t expected =
            inside ? band[(y - c.bandTop) * kWidth + x] & 0xFFFFFF : kUntouched;
        if (surface.at(wx, wy) != expected && ++wrong <= 3) {
          ADD_FAILURE() << "window pixel " << wx << "," << wy << " is " << std::hex
                        << surface.at(wx, wy) << ", not " << expected;
        }
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// Window pixel (x, y) inside the presented rectangle shows band pixel
// (x, y - bandTop), counted from the band's first row in memory; nothing
// outside the rectangle, or outside the band, changes. At a scale k, each
// band pixel covers a k x k block.
TEST(Win32DeviceContextTest, PresentsTheRectangleRowForRow) {
  for (const int k : {1, 2, 3}) {
    SCOPED_TRACE(testing::Message() << "scale " << k);
    presentRowForRow(k);
  }
}
}  // namespace
}  // namespace nubrik
