// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

// The pixel loops of rotated drawing, written once as templates over the
// blend rule, the weight case, the source reader, the tint and the sampler
// (nearest or bilinear). The plain loops here are the reference that the
// vector loops (affine_loops.inc) are checked against bit for bit.

#include <cstddef>
#include <cstdint>

#include "nubrik/sprite/affine_blitters.h"
#include "nubrik/sprite/affine_geometry.h"
#include "nubrik/sprite/blit_loops.h"

namespace nubrik::blit {

// The clipped work of one rotated draw. Frame coordinates are in units of
// 2^-24 frame pixel, exact in 64 bits everywhere in the area; a bilinear
// walk's coordinates are already half a pixel less (the top-left neighbour's).
struct AffineWalk {
  uint8_t* target = nullptr;  // the first visible target pixel
  size_t targetPitch = 0;
  uint32_t width = 0;  // visible target pixels
  uint32_t height = 0;
  int64_t u = 0, v = 0;                                    // at the first visible pixel
  int64_t uStepX = 0, vStepX = 0, uStepY = 0, vStepY = 0;  // a target pixel right, down
  uint32_t frameWidth = 1, frameHeight = 1;
  const uint8_t* frame = nullptr;           // the source pixel at frame (0, 0)
  ptrdiff_t frameColumn = 0, frameRow = 0;  // bytes from a frame pixel to the next column, row
  uint32_t tint = 0xFFFFFFFFu;
  // Whether the vector loops' 32-bit lanes hold it all: every coordinate's
  // whole part (also a vector's width past the area) and every byte offset
  // in the frame.
  bool narrow = false;
};

// A source pixel as the loops use it: its value, and the weight (0 to 256)
// it is drawn with where it is drawn alone (the image rule's weights).
template <PixelFormat Format, bool Faded, bool Tinted>
inline void readWeighted(const uint8_t* p, uint32_t tint, uint32_t opacityWeight, uint32_t& s,
                         uint32_t& w) {
  using Reader = SourceReader<Format>;
  if constexpr (Tinted) {
    s = tintPixel<Reader::kHasAlpha>(Reader::pixel(p), tint);
  } else {
    s = Reader::pixel(p);
  }
  if constexpr (Tinted || Reader::kHasAlpha) {
    const uint32_t alpha = s >> 24;
    w = Faded ? toWeight((alpha * opacityWeight) >> 8) : toWeight(alpha);
  } else {
    w = Faded ? opacityWeight : 256;
  }
}

// Bilinear weights of the four neighbours (top-left, top-right, bottom-left,
// bottom-right) for fractions fx, fy (0 to 255): they add up to 256.
inline void bilinearShares(uint32_t fx, uint32_t fy, uint32_t shares[4]) {
  shares[1] = ((256 - fy) * fx + 128) >> 8;
  shares[0] = 256 - fy - shares[1];
  shares[3] = (fy * fx + 128) >> 8;
  shares[2] = fy - shares[3];
}

// One target pixel at `at` whose frame coordinates are (u, v).
template <typename Rule, bool Faded, PixelFormat Format, bool Tinted, ImageFilter Filter>
inline void affinePixel(uint8_t* at, int64_t u, int64_t v, const AffineWalk& walk,
                        uint32_t opacityWeight) {
  const int64_t x0 = u >> kFrameFractionBits, y0 = v >> kFrameFractionBits;
  if constexpr (Filter == ImageFilter::Nearest) {
    if (x0 < 0 || y0 < 0 || x0 >= walk.frameWidth || y0 >= walk.frameHeight) return;
    uint32_t s, w;
    readWeighted<Format, Faded, Tinted>(walk.frame + x0 * walk.frameColumn + y0 * walk.frameRow,
                                        walk.tint, opacityWeight, s, w);
    if (w == 0) return;
    const uint32_t d = load32(at);
    store32(at, mixPixels(d, Rule::blend(d, s), w));
  } else {
    if (x0 < -1 || y0 < -1 || x0 >= walk.frameWidth || y0 >= walk.frameHeight) return;
    uint32_t shares[4];
    bilinearShares(static_cast<uint32_t>(u >> 16) & 255, static_cast<uint32_t>(v >> 16) & 255,
                   shares);
    uint32_t sources[4] = {}, g[4] = {};
    uint32_t total = 0;
    for (int k = 0; k < 4; ++k) {
      const int64_t x = x0 + (k & 1), y = y0 + (k >> 1);
      if (x < 0 || y < 0 || x >= walk.frameWidth || y >= walk.frameHeight) continue;
      uint32_t w;
      readWeighted<Format, Faded, Tinted>(walk.frame + x * walk.frameColumn + y * walk.frameRow,
                                          walk.tint, opacityWeight, sources[k], w);
      g[k] = (shares[k] * w) >> 8;
      total += g[k];
    }
    if (total == 0) return;
    // Per byte (d * (256 - G) + sum of g * x) >> 8: weights that add up to
    // 256 keep every byte's sum below 2^16, so two bytes share a word.
    const uint32_t d = load32(at);
    uint32_t rb = (d & 0x00FF00FFu) * (256 - total);
    uint32_t ag = ((d >> 8) & 0x00FF00FFu) * (256 - total);
    for (int k = 0; k < 4; ++k) {
      if (g[k] == 0) continue;
      const uint32_t x = Rule::blend(d, sources[k]);
      rb += (x & 0x00FF00FFu) * g[k];
      ag += ((x >> 8) & 0x00FF00FFu) * g[k];
    }
    store32(at, ((rb >> 8) & 0x00FF00FFu) | (ag & 0xFF00FF00u));
  }
}

// The plain loop: every pixel by affinePixel, stepping exactly.
template <typename Rule, bool Faded, PixelFormat Format, bool Tinted, ImageFilter Filter>
void affineLoop(const AffineWalk& walk, uint32_t opacityWeight) {
  int64_t rowU = walk.u, rowV = walk.v;
  for (uint32_t y = 0; y < walk.height; ++y) {
    uint8_t* row = walk.target + y * walk.targetPitch;
    int64_t u = rowU, v = rowV;
    for (uint32_t x = 0; x < walk.width; ++x) {
      affinePixel<Rule, Faded, Format, Tinted, Filter>(row + 4 * x, u, v, walk, opacityWeight);
      u += walk.uStepX;
      v += walk.vStepX;
    }
    rowU += walk.uStepY;
    rowV += walk.vStepY;
  }
}

// The columns x of a row, 0 <= x < width, whose coordinate c + x * step
// lies in [low, high): a run, since the coordinate moves one way.
struct ColumnSpan {
  uint32_t first = 0, end = 0;
};
inline ColumnSpan columnSpan(int64_t c, int64_t step, int64_t low, int64_t high, uint32_t width) {
  auto floorDiv = [](int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0 ? 1 : 0); };
  int64_t first = 0, end = width;
  if (step > 0) {
    first = -floorDiv(c - low, step);  // ceil((low - c) / step)
    end = -floorDiv(c - high, step);
  } else if (step < 0) {
    first = floorDiv(c - high, -step) + 1;
    end = floorDiv(c - low, -step) + 1;
  } else if (c < low || c >= high) {
    end = 0;
  }
  first = first < 0 ? 0 : first;
  end = end > int64_t{width} ? int64_t{width} : end;
  if (first >= end) return {};
  return {static_cast<uint32_t>(first), static_cast<uint32_t>(end)};
}

// The columns of a row whose pixels the sampler can draw: nearest samples
// in the frame, bilinear ones with a neighbour in it.
template <ImageFilter Filter>
inline ColumnSpan drawnSpan(const AffineWalk& walk, int64_t u, int64_t v) {
  const int64_t low = Filter == ImageFilter::Bilinear ? -(int64_t{1} << kFrameFractionBits) : 0;
  const ColumnSpan across =
      columnSpan(u, walk.uStepX, low, int64_t{walk.frameWidth} << kFrameFractionBits, walk.width);
  const ColumnSpan down =
      columnSpan(v, walk.vStepX, low, int64_t{walk.frameHeight} << kFrameFractionBits, walk.width);
  const uint32_t first = across.first > down.first ? across.first : down.first;
  const uint32_t end = across.end < down.end ? across.end : down.end;
  if (first >= end) return {};
  return {first, end};
}

// Every loop of one implementation, indexed by filter, blend mode, faded,
// source format and tinted.
using AffineLoop = void (*)(const AffineWalk&, uint32_t opacityWeight);
struct AffineLoopTable {
  AffineLoop loops[2][5][2][5][2];
};

// Fills a table with `Loops<Rule>::affine<Faded, Format, Tinted, Filter>`.
template <template <typename> class Loops>
constexpr AffineLoopTable makeAffineLoopTable() {
  AffineLoopTable table{};
  auto mode = [&table]<typename Rule>(int m) {
    auto filters = [&]<ImageFilter Filter>() {
      auto fades = [&]<bool Faded>() {
        auto tints = [&]<bool Tinted>() {
          auto& row = table.loops[static_cast<int>(Filter)][m][Faded];
          row[0][Tinted] = &Loops<Rule>::template affine<Faded, PixelFormat::Grey, Tinted, Filter>;
          row[1][Tinted] = &Loops<Rule>::template affine<Faded, PixelFormat::Rgb, Tinted, Filter>;
          row[2][Tinted] =
              &Loops<Rule>::template affine<Faded, PixelFormat::GreyAlpha, Tinted, Filter>;
          row[3][Tinted] = &Loops<Rule>::template affine<Faded, PixelFormat::Rgba, Tinted, Filter>;
          row[4][Tinted] = &Loops<Rule>::template affine<Faded, PixelFormat::Rgbx, Tinted, Filter>;
        };
        tints.template operator()<false>();
        tints.template operator()<true>();
      };
      fades.template operator()<false>();
      fades.template operator()<true>();
    };
    filters.template operator()<ImageFilter::Nearest>();
    filters.template operator()<ImageFilter::Bilinear>();
  };
  mode.template operator()<NormalBlend>(0);
  mode.template operator()<AddBlend>(1);
  mode.template operator()<SubtractBlend>(2);
  mode.template operator()<MultiplyBlend>(3);
  mode.template operator()<InverseMultiplyBlend>(4);
  return table;
}

// Draws by the rotation rule's general sampling, without folding whole
// quarter turns into the sheet rule as drawRotatedImage does: what the
// loops below compute, for every angle (the tests compare both).
void drawAffineImage(const IImage& source, const ImageTransform& transform,
                     const ImageRotation& rotation, const BandClip* clip, IImage& target,
                     BlendMode mode, const Rect& area, uint8_t opacity);

// The loops of one implementation (a level the build or the processor lacks
// gives the best one below it), and those of the level the image loops use
// now (setActiveSimdLevel).
const AffineLoopTable& affineLoopTable(SimdLevel level);
const AffineLoopTable& activeAffineLoops();

}  // namespace nubrik::blit
