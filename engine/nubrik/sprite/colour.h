#pragma once

#include <array>
#include <cstdint>

#include "nubrik/image/pixel_format.h"

namespace nubrik {

// A fill colour. Components are held red, green, blue(, alpha) for the
// colour kinds, or level(, alpha) for the grey kinds.
struct Colour {
  PixelFormat kind = PixelFormat::Rgb;
  std::array<uint8_t, 4> components{};

  bool operator==(const Colour&) const = default;
};

// The colour as a target pixel 0xAARRGGBB. Opaque kinds pack an alpha byte of
// 0; kinds other than Grey, Rgb, GreyAlpha and Rgba pack to 0.
constexpr uint32_t toPixel(const Colour& colour) {
  const auto& c = colour.components;
  switch (colour.kind) {
    case PixelFormat::Grey:
      return c[0] * 0x010101u;
    case PixelFormat::Rgb:
      return (uint32_t{c[0]} << 16) | (uint32_t{c[1]} << 8) | c[2];
    case PixelFormat::GreyAlpha:
      return (uint32_t{c[1]} << 24) | c[0] * 0x010101u;
    case PixelFormat::Rgba:
      return (uint32_t{c[3]} << 24) | (uint32_t{c[0]} << 16) | (uint32_t{c[1]} << 8) | c[2];
    default:
      return 0;
  }
}

// The alpha that weights a fill: 255 for every kind without an alpha component.
constexpr uint8_t colourAlpha(const Colour& colour) {
  switch (colour.kind) {
    case PixelFormat::GreyAlpha:
      return colour.components[1];
    case PixelFormat::Rgba:
      return colour.components[3];
    default:
      return 255;
  }
}

constexpr bool isTranslucent(const Colour& colour) { return colourAlpha(colour) != 255; }

}  // namespace nubrik
