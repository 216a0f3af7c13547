#include "nubrik/image/load_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "nubrik/base/exception.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/image/png_encoder.h"

namespace nubrik {
namespace {

// What a load gave: the picture's layout and bytes, or the failure's text.
std::string outcome(const std::function<std::shared_ptr<Image>()>& load) {
  try {
    const auto image = load();
    PixelLock lock(*image);
    const auto* pixels = reinterpret_cast<const char*>(lock.pixels());
    return std::to_string(image->getWidth()) + "x" + std::to_string(image->getHeight()) + " " +
           std::to_string(static_cast<int>(image->getPixelFormat())) + " " +
           std::string(pixels, size_t{image->getPitch()} * image->getHeight());
  } catch (const IoException& e) {
    return std::string("IoException: ") + e.what();
  }
}

// Loading from memory and loading the same bytes from a file agree, picture
// for picture and failure for failure: whole files of every colour type,
// every cut of them, and damaged ones.
TEST(LoadImageFromMemoryTest, AgreesWithTheFileLoader) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("nubrik_memory_" + std::to_string(getpid())))
          .string();
  std::mt19937 random(14);
  int decoded = 0, failed = 0;
  for (int colourType : {0, 2, 3, 4, 6}) {
    PngPicture picture;
    picture.width = 1 + random() % 40;
    picture.height = 1 + random() % 20;
    picture.colourType = colourType;
    picture.rows.resize(size_t{picture.rowBytes()} * picture.height);
    for (auto& b : picture.rows) b = static_cast<uint8_t>(random());
    if (colourType == 3) {
      picture.palette.resize(3 * 256);
      for (auto& b : picture.palette) b = static_cast<uint8_t>(random());
    }
    const std::vector<uint8_t> png = encodePng(picture);
    for (size_t cut = 0; cut <= png.size(); cut += 1 + png.size() / 9) {
      for (bool damaged : {false, true}) {
        std::vector<uint8_t> bytes(png.begin(), png.end() - static_cast<ptrdiff_t>(cut));
        if (damaged && bytes.size() > 40) bytes[bytes.size() / 2] ^= 0x5A;
        SCOPED_TRACE(::testing::Message()
                     << "type " << colourType << " cut " << cut << " damaged " << damaged);
        writeFile(path, bytes);
        // The same failure, for the same reason; only where it was differs.
        std::string fromFile = outcome([&] { return loadImageFromFile(path); });
        const std::string file = "file \"" + path + "\"";
        if (const size_t at = fromFile.find(file); at != std::string::npos) {
          fromFile.replace(at, file.size(), "memory (" + std::to_string(bytes.size()) + " bytes)");
        }
        EXPECT_EQ(outcome([&] { return loadImageFromMemory(bytes.data(), bytes.size()); }),
                  fromFile);
        ++(fromFile.starts_with("IoException") ? failed : decoded);
      }
    }
  }
  std::filesystem::remove(path);
  EXPECT_GE(decoded, 5);
  EXPECT_GT(failed, 40);

  EXPECT_THROW(loadImageFromMemory(nullptr, 0), IoException);
  EXPECT_THROW(loadImageFromMemory(nullptr, 8), std::invalid_argument);
}

}  // namespace
}  // namespace nubrik
