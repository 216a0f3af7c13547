#pragma once

#include <cstdint>

namespace nubrik {

enum class BlendMode : int32_t {
  Normal = 0,
  Add = 1,
  Subtract = 2,
  Multiply = 3,
  InverseMultiply = 4,
};

constexpr bool isValidBlendMode(BlendMode mode) {
  return static_cast<int32_t>(mode) >= 0 && static_cast<int32_t>(mode) <= 4;
}

// Maps a byte to a weight 0..256 so that 255 means "take all of it".
constexpr uint32_t toWeight(uint32_t v) { return (v * 65794u) >> 16; }

// Per byte: (d * (256 - w) + x * w) >> 8, two channels per multiplication.
// Each channel product is at most 255 * 256, so no carry crosses channels.
constexpr uint32_t mixPixels(uint32_t d, uint32_t x, uint32_t w) {
  const uint32_t keep = 256 - w;
  const uint32_t rb = (((d & 0x00FF00FFu) * keep + (x & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
  const uint32_t ag =
      (((d >> 8) & 0x00FF00FFu) * keep + ((x >> 8) & 0x00FF00FFu) * w) & 0xFF00FF00u;
  return rb | ag;
}

// The blend rules. Each is a small struct so that the pixel loops can be
// written once as templates over the rule.
struct NormalBlend {
  static constexpr BlendMode kMode = BlendMode::Normal;
  static constexpr uint32_t blend(uint32_t, uint32_t s) { return s; }
};

// Saturating per colour byte; the alpha byte wraps.
struct AddBlend {
  static constexpr BlendMode kMode = BlendMode::Add;
  static constexpr uint32_t blend(uint32_t d, uint32_t s) {
    const uint32_t carries = (((d ^ s) & 0xFEFEFEu) + 2 * (d & s)) & 0x1010100u;
    return (carries - (carries >> 8)) | (d + s - carries);
  }
};

// d - s, clamped at 0 per colour byte; the alpha byte wraps.
struct SubtractBlend {
  static constexpr BlendMode kMode = BlendMode::Subtract;
  static constexpr uint32_t blend(uint32_t d, uint32_t s) {
    const uint32_t n = ~d;
    const uint32_t borrows = (((n ^ s) & 0xFEFEFEu) + 2 * (n & s)) & 0x1010100u;
    return (borrows + d - s) & ~(borrows - (borrows >> 8));
  }
};

struct MultiplyBlend {
  static constexpr BlendMode kMode = BlendMode::Multiply;
  static constexpr uint32_t channel(uint32_t d, uint32_t s, int shift) {
    return (((d >> shift) & 0xFF) * toWeight((s >> shift) & 0xFF)) >> 8 << shift;
  }
  static constexpr uint32_t blend(uint32_t d, uint32_t s) {
    return channel(d, s, 16) | channel(d, s, 8) | channel(d, s, 0);
  }
};

// The product of the two complements, not complemented again.
struct InverseMultiplyBlend {
  static constexpr BlendMode kMode = BlendMode::InverseMultiply;
  static constexpr uint32_t blend(uint32_t d, uint32_t s) { return MultiplyBlend::blend(~d, ~s); }
};

// The blend result for a mode given at run time; 0 for a value that is not a mode.
constexpr uint32_t blendPixel(BlendMode mode, uint32_t d, uint32_t s) {
  switch (mode) {
    case BlendMode::Normal:
      return NormalBlend::blend(d, s);
    case BlendMode::Add:
      return AddBlend::blend(d, s);
    case BlendMode::Subtract:
      return SubtractBlend::blend(d, s);
    case BlendMode::Multiply:
      return MultiplyBlend::blend(d, s);
    case BlendMode::InverseMultiply:
      return InverseMultiplyBlend::blend(d, s);
  }
  return 0;
}

}  // namespace nubrik
