#include "nubrik/image/load_image.h"

#include "nubrik/image/file_stream_reader.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/image/png_loader.h"

namespace nubrik {

std::shared_ptr<Image> loadImageFromFile(const std::string& path) {
  std::shared_ptr<IStreamReader> reader = std::make_shared<FileStreamReader>(path);
  PngLoader loader(std::move(reader));
  auto image =
      std::make_shared<Image>(loader.getWidth(), loader.getHeight(), loader.getPixelFormat());
  const uint32_t pitch = image->getPitch();
  for (uint32_t row = 0; row < image->getHeight(); ++row) {
    PixelLock lock(*image);
    loader.load(lock.pixels() + size_t{row} * pitch, pitch);
  }
  return image;
}

}  // namespace nubrik
