#include "nubrik/image/load_image.h"

#include <stdexcept>
#include <vector>

#include "nubrik/image/file_stream_reader.h"
#include "nubrik/image/memory_stream_reader.h"
#include "nubrik/image/png_loader.h"

namespace nubrik {
namespace {

std::shared_ptr<Image> decode(std::shared_ptr<IStreamReader> reader) {
  PngLoader loader(std::move(reader));
  return loader.loadImage();
}

}  // namespace

std::shared_ptr<Image> loadImageFromFile(const std::string& path) {
  return decode(std::make_shared<FileStreamReader>(path));
}

std::shared_ptr<Image> loadImageFromMemory(const void* bytes, size_t size) {
  if (bytes == nullptr && size != 0) {
    throw std::invalid_argument("nubrik::loadImageFromMemory: no bytes given for a size of " +
                                std::to_string(size));
  }
  const auto* first = static_cast<const uint8_t*>(bytes);
  return decode(std::make_shared<MemoryStreamReader>(std::vector<uint8_t>(first, first + size)));
}

}  // namespace nubrik
