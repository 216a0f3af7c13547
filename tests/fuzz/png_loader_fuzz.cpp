// libFuzzer target: any bytes through the PNG loader must either decode or
// fail with the loader's exceptions, never crash, leak or write out of
// bounds; and decoding row by row must agree with decoding the whole picture.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "nubrik/image/memory_stream_reader.h"
#include "nubrik/image/png_loader.h"

namespace {

using namespace nubrik;

std::shared_ptr<MemoryStreamReader> stream(const uint8_t* data, size_t size) {
  return std::make_shared<MemoryStreamReader>(std::vector<uint8_t>(data, data + size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> rows;
  bool rowsDecoded = false;
  try {
    PngLoader loader(stream(data, size), PngLoader::Checksums::IgnoreForFuzzing);
    // Huge pictures are valid, but decoding them tells the fuzzer nothing new.
    if (uint64_t{loader.getWidth()} * loader.getHeight() > (1u << 22)) return 0;
    rows.resize(size_t{loader.getRowBytes()} * loader.getHeight());
    for (uint32_t y = 0; y < loader.getHeight(); ++y) {
      loader.load(rows.data() + size_t{y} * loader.getRowBytes(), loader.getRowBytes());
    }
    rowsDecoded = true;
  } catch (const std::exception&) {
  }
  try {
    PngLoader loader(stream(data, size), PngLoader::Checksums::IgnoreForFuzzing);
    const auto image = loader.loadImage();
    if (!rowsDecoded || std::memcmp(image->lockConst(), rows.data(), rows.size()) != 0) {
      std::abort();  // the two ways disagree
    }
  } catch (const std::exception&) {
    if (rowsDecoded) std::abort();
  }
  return 0;
}
