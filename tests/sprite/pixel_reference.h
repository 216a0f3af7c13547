#pragma once

// A plain per-channel model of blending, mixing, filling and image drawing,
// written independently of the engine's word-wide loops to check them.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "nubrik/base/rect.h"
#include "nubrik/image/image.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/sprite/band_clip.h"
#include "nubrik/sprite/blend.h"
#include "nubrik/sprite/colour.h"
#include "nubrik/sprite/image_blitters.h"

namespace nubrik::reference {

inline uint32_t channel(uint32_t p, int c) { return (p >> (8 * c)) & 0xFF; }
inline uint32_t weightOf(uint32_t v) { return v == 255 ? 256 : v; }

inline uint32_t blend(BlendMode mode, uint32_t d, uint32_t s) {
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const int dc = static_cast<int>(channel(d, c)), sc = static_cast<int>(channel(s, c));
    const bool alphaByte = c == 3;
    int x = 0;
    switch (mode) {
      case BlendMode::Normal:
        x = sc;
        break;
      case BlendMode::Add:
        x = alphaByte ? (dc + sc) & 255 : std::min(255, dc + sc);
        break;
      case BlendMode::Subtract:
        x = alphaByte ? (dc - sc) & 255 : std::max(0, dc - sc);
        break;
      case BlendMode::Multiply:
        x = alphaByte ? 0 : static_cast<int>((dc * weightOf(sc)) >> 8);
        break;
      case BlendMode::InverseMultiply:
        x = alphaByte ? 0 : static_cast<int>(((255 - dc) * weightOf(255 - sc)) >> 8);
        break;
    }
    out |= static_cast<uint32_t>(x) << (8 * c);
  }
  return out;
}

inline uint32_t mix(uint32_t d, uint32_t x, uint32_t w) {
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    out |= ((channel(d, c) * (256 - w) + channel(x, c) * w) >> 8) << (8 * c);
  }
  return out;
}

// Whether surface point (sx, sy) lies in the drawn region of a command.
inline bool covers(const Rect& bounds, const BandClip* clip, int64_t tx, int64_t ty) {
  const int64_t dx = clip ? clip->dx : 0, dy = clip ? clip->dy : 0;
  const int64_t sx = tx - dx, sy = ty - dy;
  if (sx < bounds.left || sx >= bounds.right || sy < bounds.top || sy >= bounds.bottom)
    return false;
  if (clip && !clip->clipRect.isEmpty()) {
    const Rect& c = clip->clipRect;
    if (tx < c.left || tx >= c.right || ty < c.top || ty >= c.bottom) return false;
  }
  return true;
}

inline uint32_t loadTarget(const uint8_t* p, uint32_t pitch, int x, int y) {
  const uint8_t* q = p + size_t(y) * pitch + size_t(x) * 4;
  return q[0] | q[1] << 8 | q[2] << 16 | uint32_t(q[3]) << 24;
}
inline void storeTarget(uint8_t* p, uint32_t pitch, int x, int y, uint32_t v) {
  uint8_t* q = p + size_t(y) * pitch + size_t(x) * 4;
  q[0] = v & 255, q[1] = (v >> 8) & 255, q[2] = (v >> 16) & 255, q[3] = v >> 24;
}

inline void fillRect(IImage& target, const BandClip* clip, BlendMode mode, const Rect& bounds,
                     const Colour& colour, uint8_t opacity) {
  if (static_cast<int>(mode) < 0 || static_cast<int>(mode) > 4 || opacity == 0) return;
  const Colour& c = colour;
  uint32_t p = 0, a = 255;
  switch (c.kind) {
    case PixelFormat::Grey:
      p = c.components[0] * 0x010101u;
      break;
    case PixelFormat::Rgb:
      p = c.components[0] << 16 | c.components[1] << 8 | c.components[2];
      break;
    case PixelFormat::GreyAlpha:
      p = uint32_t(c.components[1]) << 24 | c.components[0] * 0x010101u;
      a = c.components[1];
      break;
    case PixelFormat::Rgba:
      p = uint32_t(c.components[3]) << 24 | c.components[0] << 16 | c.components[1] << 8 |
          c.components[2];
      a = c.components[3];
      break;
    default:
      break;
  }
  // An opaque colour fades by the opacity alone.
  uint32_t w = opacity == 255 ? weightOf(a) : weightOf((a * weightOf(opacity)) >> 8);
  if (a == 255) w = weightOf(opacity);
  PixelLock lock(target);
  for (int y = 0; y < int(target.getHeight()); ++y) {
    for (int x = 0; x < int(target.getWidth()); ++x) {
      if (!covers(bounds, clip, x, y)) continue;
      const uint32_t d = loadTarget(lock.pixels(), target.getPitch(), x, y);
      storeTarget(lock.pixels(), target.getPitch(), x, y, mix(d, blend(mode, d, p), w));
    }
  }
}

struct SourcePixel {
  uint32_t value = 0;
  uint32_t alpha = 255;
  bool hasAlpha = false;
};

inline SourcePixel readSource(const IImage& source, const uint8_t* pixels, int64_t sx, int64_t sy) {
  const uint8_t* q = pixels + size_t(sy) * source.getPitch();
  switch (source.getPixelFormat()) {
    case PixelFormat::Grey:
      return {q[sx] * 0x010101u};
    case PixelFormat::Rgb:
      return {uint32_t(q[3 * sx] | q[3 * sx + 1] << 8 | q[3 * sx + 2] << 16)};
    case PixelFormat::GreyAlpha:
      return {q[2 * sx] * 0x010101u | uint32_t(q[2 * sx + 1]) << 24, q[2 * sx + 1], true};
    case PixelFormat::Rgba:
    case PixelFormat::Rgbx: {
      const uint32_t s =
          q[4 * sx] | q[4 * sx + 1] << 8 | q[4 * sx + 2] << 16 | uint32_t(q[4 * sx + 3]) << 24;
      if (source.getPixelFormat() == PixelFormat::Rgba) return {s, q[4 * sx + 3], true};
      return {s};
    }
  }
  return {};
}

inline void drawPixel(uint8_t* pixels, uint32_t pitch, int x, int y, BlendMode mode,
                      const SourcePixel& s, uint8_t opacity) {
  // Per-pixel alpha fades by alpha x opacity; a source without alpha by the opacity.
  const uint32_t w = !s.hasAlpha      ? weightOf(opacity)
                     : opacity == 255 ? weightOf(s.alpha)
                                      : weightOf((s.alpha * weightOf(opacity)) >> 8);
  const uint32_t d = loadTarget(pixels, pitch, x, y);
  storeTarget(pixels, pitch, x, y, mix(d, blend(mode, d, s.value), w));
}

inline void drawImage(const IImage& source, Point origin, const BandClip* clip, IImage& target,
                      BlendMode mode, const Rect& bounds, uint8_t opacity) {
  const int format = static_cast<int>(source.getPixelFormat());
  if (static_cast<int>(mode) < 0 || static_cast<int>(mode) > 4 || opacity == 0 || format < 0 ||
      format > 4)
    return;
  PixelLock lock(target);
  ConstPixelLock src(source);
  const int64_t dx = clip ? clip->dx : 0, dy = clip ? clip->dy : 0;
  for (int y = 0; y < int(target.getHeight()); ++y) {
    for (int x = 0; x < int(target.getWidth()); ++x) {
      if (!covers(bounds, clip, x, y)) continue;
      const int64_t sx = origin.x + (x - dx - bounds.left);
      const int64_t sy = origin.y + (y - dy - bounds.top);
      if (sx < 0 || sy < 0 || sx >= source.getWidth() || sy >= source.getHeight()) continue;
      const SourcePixel s = readSource(source, src.pixels(), sx, sy);
      drawPixel(lock.pixels(), target.getPitch(), x, y, mode, s, opacity);
    }
  }
}

// The sampling rule of transformed images, pixel by pixel.
inline void drawTransformedImage(const IImage& source, const ImageTransform& t,
                                 const BandClip* clip, IImage& target, BlendMode mode,
                                 const Rect& bounds, uint8_t opacity) {
  const int format = static_cast<int>(source.getPixelFormat());
  if (static_cast<int>(mode) < 0 || static_cast<int>(mode) > 4 || opacity == 0 || format < 0 ||
      format > 4)
    return;
  PixelLock lock(target);
  ConstPixelLock src(source);
  const int64_t dx = clip ? clip->dx : 0, dy = clip ? clip->dy : 0;
  const int64_t width = int64_t{bounds.right} - bounds.left;
  const int64_t height = int64_t{bounds.bottom} - bounds.top;
  const int64_t sw = t.sourceRect.right - t.sourceRect.left;
  const int64_t sh = t.sourceRect.bottom - t.sourceRect.top;
  const bool turned = t.quarterTurns % 2 == 1;
  const int64_t wide = turned ? sh : sw, high = turned ? sw : sh;
  for (int y = 0; y < int(target.getHeight()); ++y) {
    for (int x = 0; x < int(target.getWidth()); ++x) {
      if (!covers(bounds, clip, x, y)) continue;
      const int64_t i = x - dx - bounds.left, j = y - dy - bounds.top;
      const int64_t u = (2 * i + 1) * wide / (2 * width), v = (2 * j + 1) * high / (2 * height);
      int64_t a = u, b = v;
      if (t.quarterTurns == 1) a = v, b = sh - 1 - u;
      if (t.quarterTurns == 2) a = sw - 1 - u, b = sh - 1 - v;
      if (t.quarterTurns == 3) a = sw - 1 - v, b = u;
      if (t.flipHorizontal) a = sw - 1 - a;
      if (t.flipVertical) b = sh - 1 - b;
      SourcePixel s = readSource(source, src.pixels(), t.sourceRect.left + a, t.sourceRect.top + b);
      if (t.tint != 0xFFFFFFFFu) {
        if (!s.hasAlpha) s.value |= 0xFF000000u;
        uint32_t tinted = 0;
        for (int c = 0; c < 4; ++c) {
          tinted |= (channel(s.value, c) * channel(t.tint, c) + 127) / 255 << (8 * c);
        }
        s = SourcePixel{tinted, tinted >> 24, true};
      }
      drawPixel(lock.pixels(), target.getPitch(), x, y, mode, s, opacity);
    }
  }
}

}  // namespace nubrik::reference
