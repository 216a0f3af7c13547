#pragma once

// The pixel loops behind fillRect and drawImage, written once as templates
// over the blend rule, the weight case and the source reader. The
// dispatchers instantiate every combination into tables, so no loop tests
// the mode, the opacity or the format per pixel.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "engine/image/pixel_format.h"
#include "engine/sprite/band_clip.h"
#include "engine/sprite/blend.h"

namespace nubrik::blit {

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint32_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// Stores `count` copies of `pixel`. Where wchar_t is 32 bits, the C library's
// wmemset is a tuned word fill (as fast as memset); elsewhere a plain loop.
inline void storeRun(uint8_t* row, size_t count, uint32_t pixel) {
  if constexpr (sizeof(wchar_t) == 4) {
    std::wmemset(reinterpret_cast<wchar_t*>(row), static_cast<wchar_t>(pixel), count);
  } else {
    for (size_t x = 0; x < count; ++x) store32(row + 4 * x, pixel);
  }
}

// The clipped work of one call: `height` rows of `width` target pixels,
// and for images the matching source rows.
struct RowWalk {
  uint8_t* target = nullptr;
  size_t targetPitch = 0;
  const uint8_t* source = nullptr;
  size_t sourcePitch = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// How a fill weights its blend result.
enum class WeightCase {
  Opaque,      // 256: the blend result itself
  Alpha,       // from the colour's alpha
  Faded,       // from the opacity
  FadedAlpha,  // from both
};
inline constexpr int kWeightCases = 4;

template <typename Rule, WeightCase Case>
void fillLoop(const RowWalk& walk, uint32_t pixel, uint32_t weight) {
  if constexpr (Case == WeightCase::Opaque && Rule::kMode == BlendMode::Normal) {
    // Whole rows of a packed target are one run.
    if (walk.targetPitch == size_t{walk.width} * 4) {
      storeRun(walk.target, size_t{walk.width} * walk.height, pixel);
      return;
    }
  }
  for (uint32_t y = 0; y < walk.height; ++y) {
    uint8_t* row = walk.target + y * walk.targetPitch;
    if constexpr (Case == WeightCase::Opaque && Rule::kMode == BlendMode::Normal) {
      storeRun(row, walk.width, pixel);
    } else if constexpr (Case == WeightCase::Opaque) {
      for (uint32_t x = 0; x < walk.width; ++x) {
        store32(row + 4 * x, Rule::blend(load32(row + 4 * x), pixel));
      }
    } else if constexpr (Rule::kMode == BlendMode::Normal) {
      // The colour's share of the mix is the same for every pixel.
      const uint32_t keep = 256 - weight;
      const uint32_t rbShare = (pixel & 0x00FF00FFu) * weight;
      const uint32_t agShare = ((pixel >> 8) & 0x00FF00FFu) * weight;
      for (uint32_t x = 0; x < walk.width; ++x) {
        const uint32_t d = load32(row + 4 * x);
        const uint32_t rb = (((d & 0x00FF00FFu) * keep + rbShare) >> 8) & 0x00FF00FFu;
        const uint32_t ag = (((d >> 8) & 0x00FF00FFu) * keep + agShare) & 0xFF00FF00u;
        store32(row + 4 * x, rb | ag);
      }
    } else {
      for (uint32_t x = 0; x < walk.width; ++x) {
        const uint32_t d = load32(row + 4 * x);
        store32(row + 4 * x, mixPixels(d, Rule::blend(d, pixel), weight));
      }
    }
  }
}

// How each source layout reads as a target pixel and (where it has one) an alpha.
template <PixelFormat Format>
struct SourceReader;

template <>
struct SourceReader<PixelFormat::Grey> {
  static constexpr uint32_t kBytes = 1;
  static constexpr bool kHasAlpha = false;
  static uint32_t pixel(const uint8_t* p) { return p[0] * 0x010101u; }
};

template <>
struct SourceReader<PixelFormat::Rgb> {
  static constexpr uint32_t kBytes = 3;
  static constexpr bool kHasAlpha = false;
  static uint32_t pixel(const uint8_t* p) { return (load16(p + 1) << 8) | p[0]; }
};

template <>
struct SourceReader<PixelFormat::GreyAlpha> {
  static constexpr uint32_t kBytes = 2;
  static constexpr bool kHasAlpha = true;
  static uint32_t pixel(const uint8_t* p) { return (uint32_t{p[1]} << 24) | p[0] * 0x010101u; }
  static uint32_t alpha(const uint8_t* p) { return p[1]; }
};

template <>
struct SourceReader<PixelFormat::Rgba> {
  static constexpr uint32_t kBytes = 4;
  static constexpr bool kHasAlpha = true;
  static uint32_t pixel(const uint8_t* p) { return load32(p); }
  static uint32_t alpha(const uint8_t* p) { return p[3]; }
};

template <>
struct SourceReader<PixelFormat::Rgbx> {
  static constexpr uint32_t kBytes = 4;
  static constexpr bool kHasAlpha = false;
  static uint32_t pixel(const uint8_t* p) { return load32(p); }
};

// `opacityWeight` is toWeight(opacity) for the faded loops and unused otherwise.
template <typename Rule, bool Faded, PixelFormat Format>
void imageLoop(const RowWalk& walk, uint32_t opacityWeight) {
  using Reader = SourceReader<Format>;
  for (uint32_t y = 0; y < walk.height; ++y) {
    uint8_t* row = walk.target + y * walk.targetPitch;
    const uint8_t* src = walk.source + y * walk.sourcePitch;
    if constexpr (Rule::kMode == BlendMode::Normal && Format == PixelFormat::Rgbx && !Faded) {
      std::memcpy(row, src, size_t{walk.width} * 4);
      continue;
    }
    for (uint32_t x = 0; x < walk.width; ++x, src += Reader::kBytes) {
      const uint32_t s = Reader::pixel(src);
      if constexpr (!Reader::kHasAlpha && !Faded) {
        if constexpr (Rule::kMode == BlendMode::Normal) {
          store32(row + 4 * x, s);
        } else {
          store32(row + 4 * x, Rule::blend(load32(row + 4 * x), s));
        }
      } else {
        uint32_t weight = opacityWeight;
        if constexpr (Reader::kHasAlpha) {
          weight = Faded ? toWeight((Reader::alpha(src) * opacityWeight) >> 8)
                         : toWeight(Reader::alpha(src));
          // A transparent source pixel cannot change the target.
          if (weight == 0) continue;
        }
        const uint32_t d = load32(row + 4 * x);
        store32(row + 4 * x, mixPixels(d, Rule::blend(d, s), weight));
      }
    }
  }
}

}  // namespace nubrik::blit

namespace nubrik::blit {

// A clipped area in 64 bits, so that translating extreme coordinates by a
// band's offset cannot overflow.
struct Area {
  int64_t left = 0;
  int64_t top = 0;
  int64_t right = 0;
  int64_t bottom = 0;

  bool hasArea() const { return left < right && top < bottom; }
  Area clippedTo(int64_t l, int64_t t, int64_t r, int64_t b) const {
    return Area{left > l ? left : l, top > t ? top : t, right < r ? right : r,
                bottom < b ? bottom : b};
  }
};

// The part of `bounds` (surface coordinates) that a blitter may write, in
// target coordinates: translated by the band clip, cut by its rectangle
// unless that is empty (no clipping), and cut by the target's edges.
// A rectangle whose left exceeds its right, or top its bottom, covers nothing.
Area visibleArea(const Rect& bounds, const BandClip* clip, uint32_t targetWidth,
                 uint32_t targetHeight);

}  // namespace nubrik::blit
