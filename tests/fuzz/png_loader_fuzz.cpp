// libFuzzer target: any bytes through the PNG loader must either decode or
// fail with the loader's exceptions, never crash, leak or write out of bounds.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "nubrik/image/memory_stream_reader.h"
#include "nubrik/image/png_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nubrik;
  try {
    PngLoader loader(std::make_shared<MemoryStreamReader>(std::vector<uint8_t>(data, data + size)),
                     PngLoader::Checksums::IgnoreForFuzzing);
    // Huge pictures are valid, but decoding them tells the fuzzer nothing new.
    if (uint64_t{loader.getWidth()} * loader.getHeight() > (1u << 22)) return 0;
    std::vector<uint8_t> row(loader.getRowBytes());
    for (uint32_t y = 0; y < loader.getHeight(); ++y) loader.load(row.data(), loader.getRowBytes());
  } catch (const std::exception&) {
  }
  return 0;
}
