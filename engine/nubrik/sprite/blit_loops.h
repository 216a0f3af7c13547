// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

// The pixel loops behind fillRect and drawImage, written once as templates
// over the blend rule, the weight case and the source reader. The
// dispatchers instantiate every combination into tables, so no loop tests
// the mode, the opacity or the format per pixel.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "nubrik/image/pixel_format.h"
#include "nubrik/sprite/band_clip.h"
#include "nubrik/sprite/blend.h"

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

// One row of a fill: `width` pixels from `row`.
template <typename Rule, WeightCase Case>
void fillRow(uint8_t* row, uint32_t width, uint32_t pixel, uint32_t weight) {
  if constexpr (Case == WeightCase::Opaque && Rule::kMode == BlendMode::Normal) {
    storeRun(row, width, pixel);
  } else if constexpr (Case == WeightCase::Opaque) {
    for (uint32_t x = 0; x < width; ++x) {
      store32(row + 4 * x, Rule::blend(load32(row + 4 * x), pixel));
    }
  } else if constexpr (Rule::kMode == BlendMode::Normal) {
    // The colour's share of the mix is the same for every pixel.
    const uint32_t keep = 256 - weight;
    const uint32_t rbShare = (pixel & 0x00FF00FFu) * weight;
    const uint32_t agShare = ((pixel >> 8) & 0x00FF00FFu) * weight;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t d = load32(row + 4 * x);
      const uint32_t rb = (((d & 0x00FF00FFu) * keep + rbShare) >> 8) & 0x00FF00FFu;
      const uint32_t ag = (((d >> 8) & 0x00FF00FFu) * keep + agShare) & 0xFF00FF00u;
      store32(row + 4 * x, rb | ag);
    }
  } else {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t d = load32(row + 4 * x);
      store32(row + 4 * x, mixPixels(d, Rule::blend(d, pixel), weight));
    }
  }
}

// The plain loops: every row through the row function. These are the
// reference that the vector loops are checked against, and the fallback.
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
    fillRow<Rule, Case>(walk.target + y * walk.targetPitch, walk.width, pixel, weight);
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

// One source pixel `s` (with its alpha, where it has one) onto the target
// pixel at `at`.
template <typename Rule, bool Faded, bool HasAlpha>
inline void blendOne(uint8_t* at, uint32_t s, uint32_t alpha, uint32_t opacityWeight) {
  if constexpr (!HasAlpha && !Faded) {
    if constexpr (Rule::kMode == BlendMode::Normal) {
      store32(at, s);
    } else {
      store32(at, Rule::blend(load32(at), s));
    }
  } else {
    uint32_t weight = opacityWeight;
    if constexpr (HasAlpha) {
      weight = Faded ? toWeight((alpha * opacityWeight) >> 8) : toWeight(alpha);
      // A transparent source pixel cannot change the target.
      if (weight == 0) return;
    }
    const uint32_t d = load32(at);
    store32(at, mixPixels(d, Rule::blend(d, s), weight));
  }
}

// One row of an image draw: `width` pixels from `row`, read from `src`.
// `opacityWeight` is toWeight(opacity) for the faded loops and unused otherwise.
template <typename Rule, bool Faded, PixelFormat Format>
void imageRow(uint8_t* row, const uint8_t* src, uint32_t width, uint32_t opacityWeight) {
  using Reader = SourceReader<Format>;
  if constexpr (Rule::kMode == BlendMode::Normal && Format == PixelFormat::Rgbx && !Faded) {
    std::memcpy(row, src, size_t{width} * 4);
    return;
  }
  for (uint32_t x = 0; x < width; ++x, src += Reader::kBytes) {
    uint32_t alpha = 0;
    if constexpr (Reader::kHasAlpha) alpha = Reader::alpha(src);
    blendOne<Rule, Faded, Reader::kHasAlpha>(row + 4 * x, Reader::pixel(src), alpha, opacityWeight);
  }
}

template <typename Rule, bool Faded, PixelFormat Format>
void imageLoop(const RowWalk& walk, uint32_t opacityWeight) {
  for (uint32_t y = 0; y < walk.height; ++y) {
    imageRow<Rule, Faded, Format>(walk.target + y * walk.targetPitch,
                                  walk.source + y * walk.sourcePitch, walk.width, opacityWeight);
  }
}

// Sampled drawing: flipped, turned, scaled and tinted sources. Target pixel
// (i, j) of a sprite shows the source pixel that each axis of the rule
// picks: along one source axis, destination index d of destLength takes
// source index floor((2d + 1) * sourceLength / (2 * destLength)), the
// nearest sample at the pixel centre, counted from the far end when the
// axis runs backward. In 64 bits: sourceLength is below 2^31 (it comes from a
// rectangle) and d below 2^32, so the product stays below 2^64.
struct SampleAxis {
  uint64_t sourceLength = 1;
  uint64_t destLength = 1;
  bool descending = false;

  uint32_t at(uint64_t d) const {
    const uint64_t u =
        sourceLength == destLength ? d : (2 * d + 1) * sourceLength / (2 * destLength);
    return static_cast<uint32_t>(descending ? sourceLength - 1 - u : u);
  }
};

// The indices of an axis for d, d + 1, ...: one division to start, then an
// addition and a comparison a step (the quotient and remainder of the
// numerator, which grows by 2 * sourceLength a step).
class AxisStepper {
 public:
  AxisStepper(const SampleAxis& axis, uint64_t first)
      : last_(axis.sourceLength - 1),
        denominator_(2 * axis.destLength),
        descending_(axis.descending) {
    if (axis.sourceLength == axis.destLength) {
      // Unscaled, as most sprites are: no division.
      quotientStep_ = 1;
      quotient_ = first;
      return;
    }
    quotientStep_ = axis.sourceLength / axis.destLength;
    remainderStep_ = 2 * axis.sourceLength % denominator_;
    const uint64_t numerator = (2 * first + 1) * axis.sourceLength;
    quotient_ = numerator / denominator_;
    remainder_ = numerator % denominator_;
  }

  // The current index; moves to the next d.
  uint32_t next() {
    const uint64_t index = descending_ ? last_ - quotient_ : quotient_;
    remainder_ += remainderStep_;
    // Without a branch: where the remainder wraps follows no pattern the
    // processor could predict.
    const uint64_t carry = remainder_ >= denominator_;
    remainder_ -= denominator_ & (0 - carry);
    quotient_ += quotientStep_ + carry;
    return static_cast<uint32_t>(index);
  }

 private:
  uint64_t last_, denominator_, quotientStep_ = 0, remainderStep_ = 0;
  bool descending_;
  uint64_t quotient_ = 0, remainder_ = 0;
};

// How the target pixels of one row map onto the source, so that each
// implementation picks its fastest reader.
enum class SampledColumns : uint8_t {
  Forward,    // along a source row, left to right, one source pixel each
  Backward,   // along a source row, right to left, one source pixel each
  Upscale,    // along a source row, each source pixel once or more, either way
  Downscale,  // along a source row, skipping source pixels, either way
  Any,        // down a source column
};

// The clipped work of one sampled draw. The source pixel of visible target
// pixel (x, y) is at source + rows.at(firstRow + y) * rowStride +
// columns.at(firstColumn + x) * columnStride.
struct SampledWalk {
  uint8_t* target = nullptr;
  size_t targetPitch = 0;
  uint32_t width = 0;  // visible target pixels
  uint32_t height = 0;
  const uint8_t* source = nullptr;  // the top-left pixel of the source rectangle
  size_t rowStride = 0;
  size_t columnStride = 0;
  SampleAxis rows, columns;
  uint64_t firstRow = 0, firstColumn = 0;
  SampledColumns kind = SampledColumns::Any;
  // Along a source row: the image's columns on either side of `source`, so
  // that a reader may load whole vectors around the pixels it needs.
  uint32_t columnsLeft = 0, columnsRight = 0;
  uint32_t tint = 0xFFFFFFFFu;  // 0xAARRGGBB: each channel's multiplier, 255 = unchanged
};

// Each channel c of `s` (alpha included; 255 for a source without alpha)
// becomes c * t / 255 rounded to the nearest, with t the tint's channel.
// x = c * t + 128; (x + (x >> 8)) >> 8 is that rounding, exact for every c and t.
template <bool SourceHasAlpha>
inline uint32_t tintPixel(uint32_t s, uint32_t tint) {
  if constexpr (!SourceHasAlpha) s |= 0xFF000000u;
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t x = ((s >> shift) & 0xFF) * ((tint >> shift) & 0xFF) + 128;
    out |= ((x + (x >> 8)) >> 8) << shift;
  }
  return out;
}

// Column tables are built for this many target pixels at a time, on the stack.
inline constexpr uint32_t kSampledChunk = 256;

// For each chunk of at most kSampledChunk visible columns and each visible
// row: row(target row at the chunk, source pixel (row, 0) of the rule, first
// column of the chunk, its width), after chunk(first column, width) built
// whatever column tables the rows need.
template <typename Chunk, typename Row>
void forEachSampledRow(const SampledWalk& walk, Chunk&& chunk, Row&& row) {
  for (uint32_t x = 0; x < walk.width; x += kSampledChunk) {
    const uint32_t count = walk.width - x < kSampledChunk ? walk.width - x : kSampledChunk;
    chunk(x, count);
    AxisStepper rows(walk.rows, walk.firstRow);
    for (uint32_t y = 0; y < walk.height; ++y) {
      row(walk.target + y * walk.targetPitch + size_t{x} * 4,
          walk.source + rows.next() * walk.rowStride, x, count);
    }
  }
}

// Byte offsets from a row's source pixel to the pixels that visible columns
// x .. x + count - 1 show.
inline void sampledOffsets(const SampledWalk& walk, uint32_t x, uint32_t count, size_t* offsets) {
  AxisStepper columns(walk.columns, walk.firstColumn + x);
  for (uint32_t i = 0; i < count; ++i) offsets[i] = columns.next() * walk.columnStride;
}

// The plain sampled loop: every pixel read through the column offsets. The
// reference the vector loops are checked against, and the fallback.
template <typename Rule, bool Faded, PixelFormat Format, bool Tinted>
void sampledLoop(const SampledWalk& walk, uint32_t opacityWeight) {
  using Reader = SourceReader<Format>;
  size_t offsets[kSampledChunk];
  forEachSampledRow(
      walk, [&](uint32_t x, uint32_t count) { sampledOffsets(walk, x, count, offsets); },
      [&](uint8_t* row, const uint8_t* source, uint32_t, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* p = source + offsets[i];
          if constexpr (Tinted) {
            const uint32_t s = tintPixel<Reader::kHasAlpha>(Reader::pixel(p), walk.tint);
            blendOne<Rule, Faded, true>(row + 4 * i, s, s >> 24, opacityWeight);
          } else {
            uint32_t alpha = 0;
            if constexpr (Reader::kHasAlpha) alpha = Reader::alpha(p);
            blendOne<Rule, Faded, Reader::kHasAlpha>(row + 4 * i, Reader::pixel(p), alpha,
                                                     opacityWeight);
          }
        }
      });
}

// Every loop of one implementation, indexed by blend mode, then weight case
// (fills) or faded and source format (images), and for sampled images
// whether they are tinted.
using FillLoop = void (*)(const RowWalk&, uint32_t pixel, uint32_t weight);
using ImageLoop = void (*)(const RowWalk&, uint32_t opacityWeight);
using SampledLoop = void (*)(const SampledWalk&, uint32_t opacityWeight);
struct LoopTable {
  FillLoop fill[5][kWeightCases];
  ImageLoop image[5][2][5];
  SampledLoop sampled[5][2][5][2];
};

// Fills a table with `Loops<Rule>::fill<Case>`, `Loops<Rule>::image<Faded, Format>`
// and `Loops<Rule>::sampled<Faded, Format, Tinted>` for every rule, case,
// format and tint: one line per implementation.
template <template <typename> class Loops>
constexpr LoopTable makeLoopTable() {
  LoopTable table{};
  auto mode = [&table]<typename Rule>(int m) {
    table.fill[m][0] = &Loops<Rule>::template fill<WeightCase::Opaque>;
    table.fill[m][1] = &Loops<Rule>::template fill<WeightCase::Alpha>;
    table.fill[m][2] = &Loops<Rule>::template fill<WeightCase::Faded>;
    table.fill[m][3] = &Loops<Rule>::template fill<WeightCase::FadedAlpha>;
    auto formats = [&]<bool Faded>() {
      table.image[m][Faded][0] = &Loops<Rule>::template image<Faded, PixelFormat::Grey>;
      table.image[m][Faded][1] = &Loops<Rule>::template image<Faded, PixelFormat::Rgb>;
      table.image[m][Faded][2] = &Loops<Rule>::template image<Faded, PixelFormat::GreyAlpha>;
      table.image[m][Faded][3] = &Loops<Rule>::template image<Faded, PixelFormat::Rgba>;
      table.image[m][Faded][4] = &Loops<Rule>::template image<Faded, PixelFormat::Rgbx>;
      auto tints = [&]<bool Tinted>() {
        auto& sampled = table.sampled[m][Faded];
        sampled[0][Tinted] = &Loops<Rule>::template sampled<Faded, PixelFormat::Grey, Tinted>;
        sampled[1][Tinted] = &Loops<Rule>::template sampled<Faded, PixelFormat::Rgb, Tinted>;
        sampled[2][Tinted] = &Loops<Rule>::template sampled<Faded, PixelFormat::GreyAlpha, Tinted>;
        sampled[3][Tinted] = &Loops<Rule>::template sampled<Faded, PixelFormat::Rgba, Tinted>;
        sampled[4][Tinted] = &Loops<Rule>::template sampled<Faded, PixelFormat::Rgbx, Tinted>;
      };
      tints.template operator()<false>();
      tints.template operator()<true>();
    };
    formats.template operator()<false>();
    formats.template operator()<true>();
  };
  mode.template operator()<NormalBlend>(0);
  mode.template operator()<AddBlend>(1);
  mode.template operator()<SubtractBlend>(2);
  mode.template operator()<MultiplyBlend>(3);
  mode.template operator()<InverseMultiplyBlend>(4);
  return table;
}

// The implementations a processor can run, best last.
enum class SimdLevel { Scalar, Sse2, Avx2, Avx512 };

// The loops of one implementation; a level the build or the processor lacks
// gives the best one below it.
const LoopTable& loopTable(SimdLevel level);
// The best level this processor runs, decided once.
SimdLevel bestSimdLevel();
// The loops fillRect and drawImage use: the best level unless set otherwise
// (for tests and benchmarks; not to be changed while anything draws).
const LoopTable& activeLoops();
void setActiveSimdLevel(SimdLevel level);

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
