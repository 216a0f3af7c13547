#include "nubrik/image/png_encoder.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/image/pixel_lock.h"

namespace nubrik {

namespace {

struct Output {
  std::vector<uint8_t> bytes;
  bool failed = false;
  // libpng's reason for refusing, kept without allocating.
  char reason[256] = {};
};

[[noreturn]] void onError(png_structp png, png_const_charp message) {
  if (auto* output = static_cast<Output*>(png_get_error_ptr(png)); output && message) {
    std::snprintf(output->reason, sizeof output->reason, "%s", message);
  }
  png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

void writeProc(png_structp png, png_bytep data, size_t length) {
  auto* output = static_cast<Output*>(png_get_io_ptr(png));
  try {
    output->bytes.insert(output->bytes.end(), data, data + length);
  } catch (...) {
    output->failed = true;
  }
  if (output->failed) png_error(png, "out of memory");
}

// Everything libpng may leave by longjmp happens here, with no C++ object
// alive in this frame.
bool encode(png_structp png, png_infop info, const PngPicture& picture, Output* output) noexcept {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, output, writeProc, nullptr);
  png_set_IHDR(png, info, picture.width, picture.height, picture.bitDepth, picture.colourType,
               picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!picture.palette.empty()) {
    png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(picture.palette.data()),
                 static_cast<int>(picture.palette.size() / 3));
  }
  if (!picture.transparency.empty()) {
    if (picture.colourType == PNG_COLOR_TYPE_PALETTE) {
      png_set_tRNS(png, info, picture.transparency.data(),
                   static_cast<int>(picture.transparency.size()), nullptr);
    } else {
      auto key = [&](size_t i) -> png_uint_16 {
        return i * 2 + 1 < picture.transparency.size()
                   ? png_uint_16(picture.transparency[i * 2] << 8 | picture.transparency[i * 2 + 1])
                   : 0;
      };
      png_color_16 colour{};
      colour.gray = key(0);
      colour.red = key(0);
      colour.green = key(1);
      colour.blue = key(2);
      png_set_tRNS(png, info, nullptr, 0, &colour);
    }
  }
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  const size_t rowBytes = picture.rowBytes();
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < picture.height; ++y) {
      png_write_row(png, picture.rows.data() + y * rowBytes);
    }
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

uint32_t PngPicture::rowBytes() const {
  const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
  return static_cast<uint32_t>((uint64_t{width} * channels * bitDepth + 7) / 8);
}

std::vector<uint8_t> encodePng(const PngPicture& picture) {
  if (picture.rows.size() < uint64_t{picture.rowBytes()} * picture.height) {
    throw std::invalid_argument("nubrik::encodePng: " + std::to_string(picture.rows.size()) +
                                " row bytes where the picture needs " +
                                std::to_string(uint64_t{picture.rowBytes()} * picture.height));
  }
  Output output;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &output, onError, onWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  const bool ok = info != nullptr && encode(png, info, picture, &output);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (!ok) {
    throw IoException(makeMessage(
        messages::kInvalidFileFormat, "nubrik::encodePng",
        "a picture of " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
            ", colour type " + std::to_string(picture.colourType) + ", depth " +
            std::to_string(picture.bitDepth),
        output.reason[0] != '\0' ? output.reason
                                 : "the encoder's structures could not be allocated"));
  }
  return std::move(output.bytes);
}

PngPicture rgbPicture(const IImage& image) {
  if (bytesPerPixel(image.getPixelFormat()) != 4) {
    throw std::invalid_argument("nubrik::rgbPicture: an image of " +
                                std::to_string(bytesPerPixel(image.getPixelFormat())) +
                                " bytes a pixel, not 4");
  }
  PngPicture picture;
  picture.width = image.getWidth();
  picture.height = image.getHeight();
  picture.colourType = PNG_COLOR_TYPE_RGB;
  picture.rows.resize(size_t{picture.width} * picture.height * 3);
  ConstPixelLock lock(image);
  uint8_t* out = picture.rows.data();
  for (uint32_t y = 0; y < picture.height; ++y) {
    const uint8_t* in = lock.pixels() + size_t{y} * image.getPitch();
    for (uint32_t x = 0; x < picture.width; ++x, in += 4, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  return picture;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  refuseNulInPath(path, "nubrik::writeFile");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file != nullptr && std::fclose(file) != 0) ok = false;
  if (!ok) {
    const int code = errno;  // before the message allocates
    throw Win32Exception(
        static_cast<uint32_t>(code),
        makeMessage("Cannot write the file in %s method.", "nubrik::writeFile", describeFile(path),
                    std::string(std::strerror(code)) + " (error " + std::to_string(code) + ")"));
  }
}

}  // namespace nubrik
