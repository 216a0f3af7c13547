#include "nubrik/image/load_image.h"

#include "nubrik/image/file_stream_reader.h"
#include "nubrik/image/png_loader.h"

namespace nubrik {

std::shared_ptr<Image> loadImageFromFile(const std::string& path) {
  std::shared_ptr<IStreamReader> reader = std::make_shared<FileStreamReader>(path);
  PngLoader loader(std::move(reader));
  return loader.loadImage();
}

}  // namespace nubrik
