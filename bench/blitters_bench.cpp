// Throughput of every fill and image loop on one band-sized target, with
// memset/memcpy of the band as bounds and pixman's comparable operations as a
// peer, all in one run. Rates are in target pixels per second. The
// transformed (sampled) loops run over the same tiles, beside pixman's
// nearest-filter transformed composite of the same sheet; the rotated loops
// beside pixman's affine composite and (where it has been built) Blend2D's
// pattern fill of the same picture.

#include <benchmark/benchmark.h>
#include <pixman.h>
#if NUBRIK_HAVE_BLEND2D
#include <blend2d/blend2d.h>
#endif

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "nubrik/image/image.h"
#include "nubrik/image/memory_helper.h"
#include "nubrik/sprite/affine_blitters.h"
#include "nubrik/sprite/blit_loops.h"
#include "nubrik/sprite/fill_blitters.h"
#include "nubrik/sprite/image_blitters.h"

namespace {

using namespace nubrik;

constexpr uint32_t kWidth = 800, kHeight = 20;
constexpr uint32_t kTileWidth = 64, kTileHeight = 48;
constexpr int64_t kPixels = int64_t{kWidth} * kHeight;
constexpr uint32_t kSheetWidth = 128, kSheetHeight = 96;

const char* const kModeNames[] = {"Normal", "Add", "Subtract", "Multiply", "InverseMultiply"};
const char* const kFormatNames[] = {"Grey", "Rgb", "GreyAlpha", "Rgba", "Rgbx"};

struct Band {
  std::shared_ptr<uint8_t[]> bytes = MemoryHelper::allocate(kPixels * 4);
  Image image{kWidth, kHeight, kWidth * 4, bytes};
  Band() { std::memset(bytes.get(), 0x80, kPixels * 4); }
};

// A tile with a soft alpha ramp, so that per-pixel alpha loops see every weight.
std::shared_ptr<Image> tile(PixelFormat format) {
  std::mt19937 random(7);
  auto image = std::make_shared<Image>(kTileWidth, kTileHeight, format);
  uint8_t* p = image->lock();
  const uint32_t bpp = bytesPerPixel(format);
  for (uint32_t y = 0; y < kTileHeight; ++y) {
    for (uint32_t x = 0; x < kTileWidth; ++x) {
      uint8_t* px = p + y * image->getPitch() + x * bpp;
      for (uint32_t c = 0; c < bpp; ++c) px[c] = static_cast<uint8_t>(random());
      const uint8_t alpha = static_cast<uint8_t>(std::min<uint32_t>(255, (x + y) * 6));
      if (format == PixelFormat::GreyAlpha) px[1] = alpha;
      if (format == PixelFormat::Rgba) px[3] = alpha;
    }
  }
  return image;
}

// A sheet of random pixels whose alphas are transparent, opaque or between
// in equal measure everywhere, so that every way of sampling it meets the
// same mix of alphas as the untransformed draw of it does.
std::shared_ptr<Image> sheet(PixelFormat format) {
  std::mt19937 random(7);
  auto image = std::make_shared<Image>(kSheetWidth, kSheetHeight, format);
  uint8_t* p = image->lock();
  const uint32_t bpp = bytesPerPixel(format);
  for (uint32_t y = 0; y < kSheetHeight; ++y) {
    for (uint32_t x = 0; x < kSheetWidth; ++x) {
      uint8_t* px = p + y * image->getPitch() + x * bpp;
      for (uint32_t c = 0; c < bpp; ++c) px[c] = static_cast<uint8_t>(random());
      const uint32_t kind = random() % 4;
      const uint8_t alpha = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<uint8_t>(random());
      if (format == PixelFormat::GreyAlpha) px[1] = alpha;
      if (format == PixelFormat::Rgba) px[3] = alpha;
    }
  }
  return image;
}

void finish(benchmark::State& state) { state.SetItemsProcessed(state.iterations() * kPixels); }

const char* const kLevelNames[] = {"scalar", "sse2", "avx2", "avx512"};

void fillBench(benchmark::State& state, blit::SimdLevel level, BlendMode mode, Colour colour,
               uint8_t opacity) {
  blit::setActiveSimdLevel(level);
  Band band;
  for (auto _ : state) {
    fillRect(band.image, nullptr, mode, {0, 0, kWidth, kHeight}, colour, opacity);
    benchmark::ClobberMemory();
  }
  finish(state);
}

void imageBench(benchmark::State& state, blit::SimdLevel level, BlendMode mode, PixelFormat format,
                uint8_t opacity) {
  blit::setActiveSimdLevel(level);
  Band band;
  auto source = tile(format);
  for (auto _ : state) {
    for (int32_t x = 0; x < static_cast<int32_t>(kWidth); x += kTileWidth) {
      drawImage(*source, {}, nullptr, band.image, mode,
                {x, 0, x + static_cast<int32_t>(kTileWidth), static_cast<int32_t>(kTileHeight)},
                opacity);
    }
    benchmark::ClobberMemory();
  }
  finish(state);
}

// Transformed draws: 64 x 48 areas across the band, sampled from a 128 x 96
// sheet by each common kind of transform, so that rates compare per target
// pixel with the untransformed draw of the same tile above.
struct SampledCase {
  const char* name;
  Rect sourceRect;
  bool flipHorizontal, flipVertical;
  uint32_t quarterTurns;
  uint32_t tint;
  double pixmanScaleX, pixmanScaleY;  // source pixels a target pixel, for the peer
};

const SampledCase kSampledCases[] = {
    {"untransformed", {0, 0, 64, 48}, false, false, 0, kNoTint, 1, 1},
    {"sourceRect", {64, 48, 128, 96}, false, false, 0, kNoTint, 1, 1},
    {"flipH", {0, 0, 64, 48}, true, false, 0, kNoTint, -1, 1},
    {"flipV", {0, 0, 64, 48}, false, true, 0, kNoTint, 1, -1},
    {"scale2x", {0, 0, 32, 24}, false, false, 0, kNoTint, 0.5, 0.5},
    {"scale4x", {0, 0, 16, 12}, false, false, 0, kNoTint, 0.25, 0.25},
    {"scale4x3x", {0, 0, 16, 16}, false, false, 0, kNoTint, 0.25, 1.0 / 3},
    {"scale1.5x", {0, 0, 43, 32}, false, false, 0, kNoTint, 43.0 / 64, 32.0 / 48},
    {"scale0.7x", {0, 0, 91, 68}, false, false, 0, kNoTint, 91.0 / 64, 68.0 / 48},
    {"turn90", {0, 0, 48, 64}, false, false, 1, kNoTint, 0, 0},
    {"tint", {0, 0, 64, 48}, false, false, 0, 0xC0FF8040u, 1, 1},
};

void sampledBench(benchmark::State& state, blit::SimdLevel level, BlendMode mode,
                  PixelFormat format, uint8_t opacity, const SampledCase& sample) {
  blit::setActiveSimdLevel(level);
  Band band;
  auto source = sheet(format);
  ImageTransform transform{sample.sourceRect, sample.flipHorizontal, sample.flipVertical,
                           sample.quarterTurns, sample.tint};
  const bool plain = std::string(sample.name) == "untransformed";
  for (auto _ : state) {
    for (int32_t x = 0; x < static_cast<int32_t>(kWidth); x += kTileWidth) {
      const Rect bounds{x, 0, x + static_cast<int32_t>(kTileWidth),
                        static_cast<int32_t>(kTileHeight)};
      if (plain) {
        drawImage(*source, {}, nullptr, band.image, mode, bounds, opacity);
      } else {
        drawTransformedImage(*source, transform, nullptr, band.image, mode, bounds, opacity);
      }
    }
    benchmark::ClobberMemory();
  }
  finish(state);
}

void memsetBench(benchmark::State& state) {
  Band band;
  for (auto _ : state) {
    std::memset(band.bytes.get(), state.iterations() & 0xFF, kPixels * 4);
    benchmark::ClobberMemory();
  }
  finish(state);
}

void memcpyBench(benchmark::State& state) {
  Band band, other;
  for (auto _ : state) {
    std::memcpy(band.bytes.get(), other.bytes.get(), kPixels * 4);
    benchmark::ClobberMemory();
  }
  finish(state);
}

// pixman on the same band: solid fills and 64 x 48 tiles composited across it,
// onto a target of either format (pixman has fast paths for some operations
// onto one format and not the other; the faster one is its fair figure).
struct PixmanBand {
  explicit PixmanBand(pixman_format_code_t format)
      : target(pixman_image_create_bits(
            format, kWidth, kHeight, reinterpret_cast<uint32_t*>(band.bytes.get()), kWidth * 4)) {}
  ~PixmanBand() { pixman_image_unref(target); }
  Band band;
  pixman_image_t* target;
};

void pixmanSolidBench(benchmark::State& state, pixman_format_code_t targetFormat, pixman_op_t op,
                      uint16_t alpha) {
  PixmanBand band(targetFormat);
  const pixman_color_t colour{0x8000, 0x4000, 0x2000, alpha};
  pixman_image_t* solid = pixman_image_create_solid_fill(&colour);
  for (auto _ : state) {
    pixman_image_composite32(op, solid, nullptr, band.target, 0, 0, 0, 0, 0, 0, kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(solid);
  finish(state);
}

void pixmanImageBench(benchmark::State& state, pixman_format_code_t targetFormat, pixman_op_t op,
                      pixman_format_code_t format, bool constantMask) {
  PixmanBand band(targetFormat);
  auto source = tile(PixelFormat::Rgba);
  pixman_image_t* src = pixman_image_create_bits(
      format, kTileWidth, kTileHeight, reinterpret_cast<uint32_t*>(source->lock()), kTileWidth * 4);
  const pixman_color_t half{0, 0, 0, 0x8000};
  pixman_image_t* mask = constantMask ? pixman_image_create_solid_fill(&half) : nullptr;
  for (auto _ : state) {
    for (int32_t x = 0; x < static_cast<int32_t>(kWidth); x += kTileWidth) {
      const int32_t w = std::min<int32_t>(kTileWidth, kWidth - x);
      pixman_image_composite32(op, src, mask, band.target, 0, 0, 0, 0, x, 0, w, kHeight);
    }
    benchmark::ClobberMemory();
  }
  if (mask) pixman_image_unref(mask);
  pixman_image_unref(src);
  finish(state);
}

// pixman's nearest-filter transformed composite of the same sheet over the
// same 64 x 48 areas: a scale (negative to flip) or, with both scales 0, a
// quarter turn clockwise.
void pixmanSampledBench(benchmark::State& state, pixman_format_code_t targetFormat, pixman_op_t op,
                        pixman_format_code_t format, const SampledCase& sample) {
  PixmanBand band(targetFormat);
  auto source = sheet(PixelFormat::Rgba);
  pixman_image_t* src =
      pixman_image_create_bits(format, kSheetWidth, kSheetHeight,
                               reinterpret_cast<uint32_t*>(source->lock()), kSheetWidth * 4);
  pixman_transform_t transform;
  const Rect& r = sample.sourceRect;
  if (sample.pixmanScaleX == 0) {
    // Target (x, y) shows source (y, h - 1 - x) of the rectangle: a turn clockwise.
    pixman_transform_init_rotate(&transform, 0, -pixman_fixed_1);
    pixman_transform_translate(&transform, nullptr, pixman_int_to_fixed(r.left),
                               pixman_int_to_fixed(r.bottom));
  } else {
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(sample.pixmanScaleX),
                                pixman_double_to_fixed(sample.pixmanScaleY));
    pixman_transform_translate(&transform, nullptr,
                               pixman_int_to_fixed(sample.pixmanScaleX < 0 ? r.right : r.left),
                               pixman_int_to_fixed(sample.pixmanScaleY < 0 ? r.bottom : r.top));
  }
  pixman_image_set_transform(src, &transform);
  pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
  for (auto _ : state) {
    for (int32_t x = 0; x < static_cast<int32_t>(kWidth); x += kTileWidth) {
      const int32_t w = std::min<int32_t>(kTileWidth, kWidth - x);
      pixman_image_composite32(op, src, nullptr, band.target, 0, 0, 0, 0, x, 0, w, kHeight);
    }
    benchmark::ClobberMemory();
  }
  pixman_image_unref(src);
  finish(state);
}

// Rotated draws: the 64 x 48 tile turned 30 degrees about its centre, Normal
// (OVER), drawn side by side across a target tall enough for its 80 x 74
// bounding box. Rates are per pixel of that box, the same count for every
// peer, which each compose over all of it.
constexpr uint32_t kTurnTarget = 80;
constexpr double kTurnDegrees = 30;
constexpr int32_t kTurnBoxWidth = 80, kTurnBoxHeight = 74;
constexpr int32_t kTurnCopies = static_cast<int32_t>(kWidth) / kTurnBoxWidth;

struct TurnBand {
  std::shared_ptr<uint8_t[]> bytes = MemoryHelper::allocate(size_t{kWidth} * kTurnTarget * 4);
  Image image{kWidth, kTurnTarget, kWidth * 4, bytes};
  TurnBand() { std::memset(bytes.get(), 0x80, size_t{kWidth} * kTurnTarget * 4); }
};

void finishTurns(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kTurnCopies * kTurnBoxWidth * kTurnBoxHeight);
}

void rotatedBench(benchmark::State& state, blit::SimdLevel level, ImageFilter filter,
                  uint8_t opacity) {
  blit::setActiveSimdLevel(level);
  TurnBand band;
  auto source = tile(PixelFormat::Rgba);
  const ImageTransform transform{Rect{0, 0, kTileWidth, kTileHeight}};
  ImageRotation rotations[kTurnCopies];
  Rect areas[kTurnCopies];
  for (int32_t n = 0; n < kTurnCopies; ++n) {
    ImageRotation& r = rotations[n];
    r.x = n * kTurnBoxWidth + (kTurnBoxWidth - int32_t(kTileWidth)) / 2;
    r.y = (kTurnBoxHeight - int32_t(kTileHeight)) / 2;
    r.width = kTileWidth, r.height = kTileHeight;
    r.pivotX2 = kTileWidth, r.pivotY2 = kTileHeight;
    r.angle = angleUnits(kTurnDegrees);
    r.filter = filter;
    areas[n] = rotatedImageArea(transform, r);
  }
  for (auto _ : state) {
    for (int32_t n = 0; n < kTurnCopies; ++n) {
      drawRotatedImage(*source, transform, rotations[n], nullptr, band.image, BlendMode::Normal,
                       areas[n], opacity);
    }
    benchmark::ClobberMemory();
  }
  finishTurns(state);
}

// pixman's affine composite of the same tile (OVER, with the opacity as a
// solid mask): target (x, y) of each box samples the tile at the box's
// centre turned back.
void pixmanRotatedBench(benchmark::State& state, pixman_filter_t filter, uint8_t opacity) {
  TurnBand band;
  pixman_image_t* target =
      pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kTurnTarget,
                               reinterpret_cast<uint32_t*>(band.bytes.get()), kWidth * 4);
  auto source = tile(PixelFormat::Rgba);
  pixman_image_t* src =
      pixman_image_create_bits(PIXMAN_a8r8g8b8, kTileWidth, kTileHeight,
                               reinterpret_cast<uint32_t*>(source->lock()), kTileWidth * 4);
  const double radians = kTurnDegrees * std::numbers::pi / 180;
  pixman_f_transform f;
  pixman_f_transform_init_identity(&f);
  pixman_f_transform_translate(&f, nullptr, -kTurnBoxWidth / 2.0, -kTurnBoxHeight / 2.0);
  pixman_f_transform_rotate(&f, nullptr, std::cos(radians), -std::sin(radians));
  pixman_f_transform_translate(&f, nullptr, kTileWidth / 2.0, kTileHeight / 2.0);
  pixman_transform_t transform;
  pixman_transform_from_pixman_f_transform(&transform, &f);
  pixman_image_set_transform(src, &transform);
  pixman_image_set_filter(src, filter, nullptr, 0);
  const pixman_color_t alpha{0, 0, 0, static_cast<uint16_t>(opacity * 257)};
  pixman_image_t* mask = opacity != 255 ? pixman_image_create_solid_fill(&alpha) : nullptr;
  for (auto _ : state) {
    for (int32_t n = 0; n < kTurnCopies; ++n) {
      pixman_image_composite32(PIXMAN_OP_OVER, src, mask, target, 0, 0, 0, 0, n * kTurnBoxWidth, 0,
                               kTurnBoxWidth, kTurnBoxHeight);
    }
    benchmark::ClobberMemory();
  }
  if (mask) pixman_image_unref(mask);
  pixman_image_unref(src);
  pixman_image_unref(target);
  finishTurns(state);
}

#if NUBRIK_HAVE_BLEND2D
// Blend2D's pattern fill of the same tile (premultiplied, as it keeps
// pictures), turned about each box's centre, at the opacity as global alpha.
void blend2dRotatedBench(benchmark::State& state, BLPatternQuality quality, uint8_t opacity) {
  TurnBand band;
  BLImage target;
  target.create_from_data(kWidth, kTurnTarget, BL_FORMAT_PRGB32, band.bytes.get(), kWidth * 4);
  auto source = tile(PixelFormat::Rgba);
  BLImage picture;
  picture.create(kTileWidth, kTileHeight, BL_FORMAT_PRGB32);
  BLImageData data;
  picture.make_mutable(&data);
  for (uint32_t y = 0; y < kTileHeight; ++y) {
    for (uint32_t x = 0; x < kTileWidth; ++x) {
      uint32_t p;
      std::memcpy(&p, source->lockConst() + y * source->getPitch() + x * 4, 4);
      const uint32_t a = p >> 24;
      uint32_t premultiplied = a << 24;
      for (int shift = 0; shift < 24; shift += 8) {
        premultiplied |= (((p >> shift) & 0xFF) * a + 127) / 255 << shift;
      }
      std::memcpy(static_cast<uint8_t*>(data.pixel_data) + y * data.stride + x * 4, &premultiplied,
                  4);
    }
  }
  const double radians = kTurnDegrees * std::numbers::pi / 180;
  BLContext context(target);
  context.set_comp_op(BL_COMP_OP_SRC_OVER);
  context.set_pattern_quality(quality);
  context.set_global_alpha(opacity / 255.0);
  for (auto _ : state) {
    for (int32_t n = 0; n < kTurnCopies; ++n) {
      context.reset_transform();
      context.translate(n * kTurnBoxWidth + kTurnBoxWidth / 2.0, kTurnBoxHeight / 2.0);
      context.rotate(radians);
      context.blit_image(BLPoint(-(kTileWidth / 2.0), -(kTileHeight / 2.0)), picture);
    }
    context.flush(BL_CONTEXT_FLUSH_SYNC);
    benchmark::ClobberMemory();
  }
  context.end();
  finishTurns(state);
}
#endif

void registerAll() {
  benchmark::RegisterBenchmark("bound/memset", memsetBench);
  benchmark::RegisterBenchmark("bound/memcpy", memcpyBench);

  for (const auto& [targetName, target] :
       {std::pair{"x8r8g8b8", PIXMAN_x8r8g8b8}, std::pair{"a8r8g8b8", PIXMAN_a8r8g8b8}}) {
    const std::string onto = std::string(" onto ") + targetName;
    auto solid = [&](const char* name, pixman_op_t op, uint16_t alpha) {
      benchmark::RegisterBenchmark((std::string("pixman/") + name + onto).c_str(), pixmanSolidBench,
                                   target, op, alpha);
    };
    auto image = [&](const char* name, pixman_op_t op, pixman_format_code_t format, bool masked) {
      benchmark::RegisterBenchmark((std::string("pixman/") + name + onto).c_str(), pixmanImageBench,
                                   target, op, format, masked);
    };
    solid("fill SRC solid", PIXMAN_OP_SRC, 0xFFFF);
    solid("fill OVER translucent", PIXMAN_OP_OVER, 0x4000);
    image("image OVER a8r8g8b8", PIXMAN_OP_OVER, PIXMAN_a8r8g8b8, false);
    image("image OVER a8r8g8b8 masked", PIXMAN_OP_OVER, PIXMAN_a8r8g8b8, true);
    image("image ADD a8r8g8b8", PIXMAN_OP_ADD, PIXMAN_a8r8g8b8, false);
    image("image MULTIPLY a8r8g8b8", PIXMAN_OP_MULTIPLY, PIXMAN_a8r8g8b8, false);
    image("image SRC x8r8g8b8", PIXMAN_OP_SRC, PIXMAN_x8r8g8b8, false);
    for (const SampledCase& sample : kSampledCases) {
      if (sample.tint != kNoTint || std::string(sample.name) == "untransformed") continue;
      for (const auto& [name, op, format] :
           {std::tuple{"OVER a8r8g8b8", PIXMAN_OP_OVER, PIXMAN_a8r8g8b8},
            std::tuple{"SRC x8r8g8b8", PIXMAN_OP_SRC, PIXMAN_x8r8g8b8}}) {
        benchmark::RegisterBenchmark(
            (std::string("pixman/nearest ") + sample.name + " " + name + onto).c_str(),
            pixmanSampledBench, target, op, format, sample);
      }
    }
  }

  for (const auto& [name, filter] : {std::pair{"nearest", PIXMAN_FILTER_NEAREST},
                                     std::pair{"bilinear", PIXMAN_FILTER_BILINEAR}}) {
    for (const uint8_t opacity : {uint8_t{200}, uint8_t{255}}) {
      benchmark::RegisterBenchmark((std::string("pixman/rotated30 ") + name +
                                    " OVER a8r8g8b8 opacity" + std::to_string(opacity))
                                       .c_str(),
                                   pixmanRotatedBench, filter, opacity);
#if NUBRIK_HAVE_BLEND2D
      benchmark::RegisterBenchmark((std::string("blend2d/rotated30 ") + name +
                                    " SRC_OVER prgb32 opacity" + std::to_string(opacity))
                                       .c_str(),
                                   blend2dRotatedBench,
                                   filter == PIXMAN_FILTER_NEAREST ? BL_PATTERN_QUALITY_NEAREST
                                                                   : BL_PATTERN_QUALITY_BILINEAR,
                                   opacity);
#endif
    }
  }

  const struct {
    const char* name;
    Colour colour;
    uint8_t opacity;
  } fills[] = {{"Opaque", {PixelFormat::Rgb, {200, 100, 50}}, 255},
               {"Alpha", {PixelFormat::Rgba, {200, 100, 50, 64}}, 255},
               {"Faded", {PixelFormat::Rgb, {200, 100, 50}}, 128},
               {"FadedAlpha", {PixelFormat::Rgba, {200, 100, 50, 64}}, 128}};
  for (int l = 0; l <= static_cast<int>(blit::bestSimdLevel()); ++l) {
    const auto level = static_cast<blit::SimdLevel>(l);
    const std::string prefix = std::string(kLevelNames[l]) + "/";
    for (int mode = 0; mode < 5; ++mode) {
      for (const auto& fill : fills) {
        benchmark::RegisterBenchmark(
            (prefix + "fill/" + kModeNames[mode] + "/" + fill.name).c_str(), fillBench, level,
            static_cast<BlendMode>(mode), fill.colour, fill.opacity);
      }
    }
    // The transformed loops where sprites use them most: Normal over every
    // layout, and Add and faded Normal over Rgba.
    const struct {
      BlendMode mode;
      uint8_t opacity;
      PixelFormat format;
    } sampledDraws[] = {
        {BlendMode::Normal, 255, PixelFormat::Rgba}, {BlendMode::Normal, 255, PixelFormat::Rgbx},
        {BlendMode::Normal, 255, PixelFormat::Rgb},  {BlendMode::Normal, 255, PixelFormat::Grey},
        {BlendMode::Normal, 128, PixelFormat::Rgba}, {BlendMode::Add, 255, PixelFormat::Rgba}};
    for (const auto& draw : sampledDraws) {
      for (const SampledCase& sample : kSampledCases) {
        benchmark::RegisterBenchmark(
            (prefix + "sampled/" + kModeNames[static_cast<int>(draw.mode)] + "/" +
             (draw.opacity != 255 ? "Faded/" : "Full/") +
             kFormatNames[static_cast<int>(draw.format)] + "/" + sample.name)
                .c_str(),
            sampledBench, level, draw.mode, draw.format, draw.opacity, sample);
      }
    }
    for (const auto& [name, filter] : {std::pair{"nearest", ImageFilter::Nearest},
                                       std::pair{"bilinear", ImageFilter::Bilinear}}) {
      for (const uint8_t opacity : {uint8_t{200}, uint8_t{255}}) {
        benchmark::RegisterBenchmark(
            (prefix + "rotated30/" + name + "/Normal/Rgba/opacity" + std::to_string(opacity))
                .c_str(),
            rotatedBench, level, filter, opacity);
      }
    }
    for (int mode = 0; mode < 5; ++mode) {
      for (int faded = 0; faded < 2; ++faded) {
        for (int format = 0; format < 5; ++format) {
          benchmark::RegisterBenchmark((prefix + "image/" + kModeNames[mode] + "/" +
                                        (faded ? "Faded/" : "Full/") + kFormatNames[format])
                                           .c_str(),
                                       imageBench, level, static_cast<BlendMode>(mode),
                                       static_cast<PixelFormat>(format), faded ? 128 : 255);
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
