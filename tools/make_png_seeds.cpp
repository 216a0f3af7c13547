// Writes a seed corpus for the PNG fuzz target: small valid files of every
// colour type, bit depth and interlace, with and without transparency.

#include <cstdio>
#include <exception>
#include <random>
#include <string>

#include "nubrik/image/png_encoder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const struct {
    int colourType;
    int depths[5];
  } kinds[] = {{0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  std::mt19937 random(1);
  int written = 0;
  try {
    for (const auto& kind : kinds) {
      for (int depth : kind.depths) {
        if (depth == 0) continue;
        for (int variant = 0; variant < 4; ++variant) {
          nubrik::PngPicture p;
          p.width = 3 + random() % 9;
          p.height = 2 + random() % 7;
          p.colourType = kind.colourType;
          p.bitDepth = depth;
          p.interlaced = variant & 1;
          p.rows.resize(size_t{p.rowBytes()} * p.height);
          for (auto& b : p.rows) b = static_cast<uint8_t>(random());
          if (kind.colourType == 3) {
            p.palette.resize(3u << depth);
            for (auto& b : p.palette) b = static_cast<uint8_t>(random());
            if (variant & 2) p.transparency.assign(1u << depth, 128);
          } else if ((variant & 2) && (kind.colourType == 0 || kind.colourType == 2)) {
            p.transparency.assign(kind.colourType == 2 ? 6 : 2, 0);
          }
          const std::string path =
              std::string(argv[1]) + "/seed_" + std::to_string(written++) + ".png";
          nubrik::writeFile(path, nubrik::encodePng(p));
        }
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_png_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
