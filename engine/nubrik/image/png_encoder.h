#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nubrik/image/image.h"

namespace nubrik {

// A picture in PNG's own terms, for encoding: rows of samples in PNG order
// (red first; 16-bit samples big-endian; sub-byte samples packed high bit first).
struct PngPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  int colourType = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<uint8_t> rows;          // height rows of rowBytes() each
  std::vector<uint8_t> palette;       // red, green, blue triples
  std::vector<uint8_t> transparency;  // tRNS: palette alphas, or one 16-bit key per channel

  uint32_t rowBytes() const;
};

// Encodes `picture`; throws IoException "Invalid file format in %s method."
// (then the picture's size and type, and why) when libpng refuses it, and
// std::invalid_argument when `rows` is too short.
std::vector<uint8_t> encodePng(const PngPicture& picture);

// The picture of an Rgbx (or Rgba) image as 8-bit RGB, the fourth byte dropped.
PngPicture rgbPicture(const IImage& image);

// Writes `bytes` to `path`; throws Win32Exception when the file cannot be
// written (its message names the file and the C library's reason, and its
// code is errno), and std::invalid_argument when `path` holds a NUL character.
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace nubrik
