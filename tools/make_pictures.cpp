// Writes the demonstration's pictures into a folder: "load.gra" (a 64 x 48
// RGB-with-alpha picture with a soft translucent edge, saved as PNG under
// another name), "snow.png" (a 9 x 9 grey-with-alpha flake) and "snow2.png"
// (a 5 x 5 palette flake with a transparency chunk). Three colour types, so
// that the demonstration decodes along three paths.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

#include "nubrik/image/png_encoder.h"

namespace {

using nubrik::PngPicture;

uint8_t clampByte(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0) + 0.5); }

PngPicture card() {
  PngPicture p;
  p.width = 64;
  p.height = 48;
  p.colourType = 6;
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = 0; x < p.width; ++x) {
      const double u = x / 63.0, v = y / 47.0;
      // A sky-to-violet gradient with a sun in the upper left.
      double r = 40 + 150 * u, g = 90 + 80 * (1 - v), b = 230 - 60 * u;
      const double sun = std::hypot(x - 18.0, y - 16.0);
      if (sun < 9) r = 255, g = 214, b = 90;
      if (y > 34 + 4 * std::sin(x / 7.0)) r = 40, g = 150 - 2.0 * y + 60, b = 70;
      // The edge fades out over the outer six pixels.
      const double edge = std::min({x + 0.5, p.width - x - 0.5, y + 0.5, p.height - y - 0.5});
      const double alpha = std::clamp(edge / 6.0, 0.0, 1.0);
      p.rows.insert(p.rows.end(), {clampByte(r), clampByte(g), clampByte(b),
                                   clampByte(255 * alpha * alpha * (3 - 2 * alpha))});
    }
  }
  return p;
}

// A round flake: full white in the middle, fading to nothing at `radius`.
double flake(uint32_t x, uint32_t y, uint32_t size) {
  const double c = (size - 1) / 2.0, radius = size / 2.0;
  return std::pow(std::clamp(1 - std::hypot(x - c, y - c) / radius, 0.0, 1.0), 1.3);
}

PngPicture greyFlake() {
  PngPicture p;
  p.width = p.height = 9;
  p.colourType = 4;
  for (uint32_t y = 0; y < 9; ++y)
    for (uint32_t x = 0; x < 9; ++x)
      p.rows.insert(p.rows.end(), {250, clampByte(255 * flake(x, y, 9))});
  return p;
}

PngPicture paletteFlake() {
  PngPicture p;
  p.width = p.height = 5;
  p.colourType = 3;
  // Entry i is a pale blue-white of alpha i * 255 / 7.
  for (int i = 0; i < 8; ++i) {
    p.palette.insert(p.palette.end(), {235, 245, 255});
    p.transparency.push_back(static_cast<uint8_t>(i * 255 / 7));
  }
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 5; ++x)
      p.rows.push_back(static_cast<uint8_t>(std::lround(7 * flake(x, y, 5))));
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  try {
    nubrik::writeFile(folder + "/load.gra", nubrik::encodePng(card()));
    nubrik::writeFile(folder + "/snow.png", nubrik::encodePng(greyFlake()));
    nubrik::writeFile(folder + "/snow2.png", nubrik::encodePng(paletteFlake()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_pictures: %s: %s\n", folder.c_str(), e.what());
    return 1;
  }
  return 0;
}
