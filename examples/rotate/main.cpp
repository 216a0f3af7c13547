// Rotation by any angle and smooth scaling: a needle turning about its
// base on a dial, and one small picture scaled three times with each
// filter. Checks a few pixels against the rotation rule and writes the
// picture as a PNG; the picture is the same bits on every processor and
// platform.
//
//   rotate [out.png]

#include <nubrik/nubrik.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace {

constexpr uint32_t kWidth = 320, kHeight = 200;
constexpr uint64_t kFrames = 40;
constexpr double kDegreesPerFrame = 7.25;  // the needle ends at 290 degrees

// A needle pointing up: a red blade narrowing to its tip over a clear
// background, and a grey hub at its base, whose centre is the pivot.
constexpr uint32_t kNeedleWidth = 11, kNeedleHeight = 64;
constexpr int32_t kPivotX = 5, kPivotY = 58;
std::shared_ptr<nubrik::Image> makeNeedle() {
  auto needle =
      std::make_shared<nubrik::Image>(kNeedleWidth, kNeedleHeight, nubrik::PixelFormat::Rgba);
  nubrik::PixelLock lock(*needle);
  for (uint32_t y = 0; y < kNeedleHeight; ++y) {
    for (uint32_t x = 0; x < kNeedleWidth; ++x) {
      const int32_t dx = int32_t(x) - kPivotX, dy = int32_t(y) - kPivotY;
      const int32_t half = int32_t(y) / 14;  // the blade widens toward the base
      uint32_t pixel = 0;
      if (dx * dx + dy * dy <= 25) {
        pixel = 0xFFB0B0B0u;  // the hub
      } else if (y < kNeedleHeight - 8 && dx >= -half && dx <= half) {
        pixel = 0xFFE02020u;
      }
      std::memcpy(lock.pixels() + size_t(y) * needle->getPitch() + size_t(x) * 4, &pixel, 4);
    }
  }
  return needle;
}

// A 16 x 16 picture with hard edges: quarters of four colours and a
// diagonal white stroke.
constexpr uint32_t kPicture = 16, kScale = 3;
std::shared_ptr<nubrik::Image> makePicture() {
  auto picture = std::make_shared<nubrik::Image>(kPicture, kPicture, nubrik::PixelFormat::Rgb);
  nubrik::PixelLock lock(*picture);
  const uint8_t quarters[4][3] = {{40, 90, 200}, {40, 180, 60}, {200, 160, 30}, {160, 40, 140}};
  for (uint32_t y = 0; y < kPicture; ++y) {
    for (uint32_t x = 0; x < kPicture; ++x) {
      const uint8_t* q = quarters[(y / 8) * 2 + x / 8];
      const bool stroke = x == y || x + 1 == y;
      uint8_t* p = lock.pixels() + size_t(y) * picture->getPitch() + size_t(x) * 3;
      p[0] = stroke ? 255 : q[2];  // blue, green, red in memory
      p[1] = stroke ? 255 : q[1];
      p[2] = stroke ? 255 : q[0];
    }
  }
  return picture;
}

uint32_t pixelAt(const nubrik::IImage& image, uint32_t x, uint32_t y) {
  nubrik::ConstPixelLock lock(image);
  uint32_t pixel;
  std::memcpy(&pixel, lock.pixels() + size_t(y) * image.getPitch() + size_t(x) * 4, 4);
  return pixel;
}

uint32_t sourceAt(const nubrik::IImage& picture, uint32_t x, uint32_t y) {
  nubrik::ConstPixelLock lock(picture);
  const uint8_t* p = lock.pixels() + size_t(y) * picture.getPitch() + size_t(x) * 3;
  return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

bool fail(const char* what, uint32_t x, uint32_t y, uint32_t shown, uint32_t expected) {
  std::fprintf(stderr, "rotate: %s: pixel (%u, %u) is %08X, not %08X\n", what, x, y, shown,
               expected);
  return false;
}

// Whether every channel of a and b differs by at most `levels`.
bool near(uint32_t a, uint32_t b, int levels) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
    if (d > levels || d < -levels) return false;
  }
  return true;
}

// What the rule promises at the end: the hub's centre stays on the dial's
// centre whatever the angle; every pixel of the Nearest copy is its source
// pixel; the Bilinear copy shows each source pixel at the centre of its
// 3 x 3 block, where the sample falls on the source pixel's centre (to the
// rule's 2^-24 of a pixel: a third is not a binary fraction), and a blend of
// neighbours between.
bool check(const nubrik::Image& frame, const nubrik::IImage& picture, nubrik::Point dial,
           nubrik::Point nearest, nubrik::Point bilinear) {
  const uint32_t hub = pixelAt(frame, uint32_t(dial.x), uint32_t(dial.y));
  if (hub != 0xFFB0B0B0u) return fail("the hub's centre", dial.x, dial.y, hub, 0xFFB0B0B0u);
  for (uint32_t y = 0; y < kPicture * kScale; ++y) {
    for (uint32_t x = 0; x < kPicture * kScale; ++x) {
      const uint32_t source = sourceAt(picture, x / kScale, y / kScale);
      const uint32_t shown = pixelAt(frame, uint32_t(nearest.x) + x, uint32_t(nearest.y) + y);
      if (shown != source) return fail("Nearest", x, y, shown, source);
      if (x % kScale != 1 || y % kScale != 1) continue;
      const uint32_t smooth = pixelAt(frame, uint32_t(bilinear.x) + x, uint32_t(bilinear.y) + y);
      if (!near(smooth, source, 3)) return fail("Bilinear", x, y, smooth, source);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : "rotate.png";
  try {
    nubrik::MemoryWindow window(kWidth, kHeight);
    nubrik::Event done;  // outlives the Screen, whose frame thread sets it
    nubrik::Screen screen(window.getDC(), kWidth, kHeight);

    auto background = screen.createFillRectSprite(0, {0, 0, kWidth, kHeight}, 0,
                                                  {nubrik::PixelFormat::Rgb, {24, 28, 36}});
    auto dialFace = screen.createFillRectSprite(1, {20, 40, 140, 160}, 1,
                                                {nubrik::PixelFormat::Rgb, {230, 226, 214}});
    // The needle's base on the dial's centre (80, 100); it turns about it,
    // smoothly filtered.
    const nubrik::Point dial{80, 100};
    auto needle = screen.createImageSprite(2, dial.x - kPivotX, dial.y - kPivotY, 2, makeNeedle());
    needle->setPivot(kPivotX, kPivotY);
    needle->setFilter(nubrik::ImageFilter::Bilinear);

    // One picture three times its size with each filter.
    const auto picture = makePicture();
    const nubrik::Point nearestAt{170, 30}, bilinearAt{170, 110};
    auto blocky = screen.createImageSprite(3, nearestAt.x, nearestAt.y, 1, picture);
    blocky->setSize(kPicture * kScale, kPicture * kScale);
    auto smooth = screen.createImageSprite(4, bilinearAt.x, bilinearAt.y, 1, picture);
    smooth->setSize(kPicture * kScale, kPicture * kScale);
    smooth->setFilter(nubrik::ImageFilter::Bilinear);
    // And turned a little, smooth too, to show its edges.
    auto turned = screen.createImageSprite(5, 250, 60, 1, picture);
    turned->setSize(kPicture * 3 / 2 * 2, kPicture * 3 / 2 * 2);
    turned->setFilter(nubrik::ImageFilter::Bilinear);
    turned->setRotation(-20);

    // A changed sprite is redrawn by the next frame.
    for (const auto& sprite : {background, dialFace}) sprite->show();
    for (const auto& sprite : {needle, blocky, smooth, turned}) sprite->show();

    // Each frame turns the needle a little further about its base.
    screen.addFrameCallback([&](nubrik::Screen& s) {
      const uint64_t frame = s.getComposedFrameCount();
      if (frame >= kFrames) {
        done.set();
        return true;
      }
      needle->setRotation(double(frame + 1) * kDegreesPerFrame);
      return false;
    });
    screen.startFrameThread();
    if (!done.wait(std::chrono::seconds(10))) {
      std::fprintf(stderr, "rotate: no %llu frames within 10 seconds\n",
                   static_cast<unsigned long long>(kFrames));
      return 1;
    }
    screen.stopFrameThread();

    const nubrik::Image& frame = window.getSurface().getFramebuffer();
    if (!check(frame, *picture, dial, nearestAt, bilinearAt)) return 1;
    std::printf(
        "after %llu frames the needle stands at %.2f degrees; the scaled pictures follow "
        "the rule\n",
        static_cast<unsigned long long>(screen.getComposedFrameCount()), needle->getRotation());
    nubrik::writeFile(out, nubrik::encodePng(nubrik::rgbPicture(frame)));
    std::printf("wrote %s (nubrik %s)\n", out.c_str(), NUBRIK_VERSION_STRING);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rotate: %s\n", e.what());
    return 1;
  }
  return 0;
}
