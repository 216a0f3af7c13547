#include "nubrik/image/png_loader.h"

#include <png.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "nubrik/base/exception.h"

namespace nubrik {

namespace {

[[noreturn]] void throwInvalid(const char* method) {
  throw IoException(makeMessage(messages::kInvalidFileFormat, method));
}

// libpng's default handlers print to standard error; a library must not.
// Errors still end the libpng call by longjmp, warnings are dropped.
[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

}  // namespace

PngLoader::PngLoader(std::shared_ptr<IStreamReader> reader, Checksums checksums)
    : reader_(std::move(reader)) {
  if (!reader_) throw std::invalid_argument("PngLoader needs a stream");
  pngStruct_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
  if (pngStruct_ != nullptr) infoStruct_ = png_create_info_struct(pngStruct_);
  if (infoStruct_ != nullptr) endInfoStruct_ = png_create_info_struct(pngStruct_);
  if (endInfoStruct_ == nullptr) {
    destroy();
    throw Exception(makeMessage(messages::kOutOfMemory, "nubrik::PngLoader::PngLoader"));
  }
  if (!readHeader(checksums)) {
    destroy();
    throwInvalid("nubrik::PngLoader::PngLoader");
  }
}

PngLoader::~PngLoader() { destroy(); }

void PngLoader::destroy() noexcept {
  if (pngStruct_ != nullptr) {
    png_destroy_read_struct(&pngStruct_, infoStruct_ ? &infoStruct_ : nullptr,
                            infoStruct_ && endInfoStruct_ ? &endInfoStruct_ : nullptr);
  }
  pngStruct_ = nullptr;
  infoStruct_ = nullptr;
  endInfoStruct_ = nullptr;
}

bool PngLoader::readHeader(Checksums checksums) noexcept {
  png_structp png = pngStruct_;
  png_infop info = infoStruct_;
  if (setjmp(png_jmpbuf(png))) return false;

  if (checksums == Checksums::IgnoreForFuzzing) {
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  }
  png_set_read_fn(png, this, &PngLoader::readProc);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
      if (bitDepth < 8) png_set_expand(png);
      break;
    case PNG_COLOR_TYPE_PALETTE:
      png_set_expand(png);
      png_set_bgr(png);
      break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA:
      png_set_bgr(png);
      break;
    default:
      break;
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  if (bitDepth > 8) png_set_strip_16(png);
  passes_ = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  switch (colourType) {
    case PNG_COLOR_TYPE_RGB:
      pixelFormat_ = PixelFormat::Rgb;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      pixelFormat_ = PixelFormat::GreyAlpha;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      pixelFormat_ = PixelFormat::Rgba;
      break;
    default:
      pixelFormat_ = PixelFormat::Grey;
      break;
  }
  width_ = width;
  height_ = height;

  // Untrusted sizes: refuse what would not fit our buffers or our limits,
  // and anything whose rows would not be exactly the layout we report.
  if (bitDepth != 8 || width_ == 0 || height_ == 0 || width_ > kMaxSide || height_ > kMaxSide ||
      uint64_t{width_} * height_ > kMaxPixels ||
      png_get_rowbytes(png, info) != uint64_t{width_} * bytesPerPixel(pixelFormat_)) {
    return false;
  }
  return true;
}

bool PngLoader::readRow(uint8_t* row) noexcept {
  if (setjmp(png_jmpbuf(pngStruct_))) return false;
  png_read_row(pngStruct_, row, nullptr);
  return true;
}

bool PngLoader::readAllPasses(uint8_t* image) noexcept {
  if (setjmp(png_jmpbuf(pngStruct_))) return false;
  const size_t rowBytes = getRowBytes();
  for (int pass = 0; pass < passes_; ++pass) {
    for (uint32_t y = 0; y < height_; ++y) png_read_row(pngStruct_, image + y * rowBytes, nullptr);
  }
  return true;
}

uint32_t PngLoader::loadImpl(uint8_t* buffer, uint32_t size) {
  const uint32_t rowBytes = getRowBytes();
  if (buffer == nullptr || size < rowBytes) {
    throw std::invalid_argument("PngLoader::load: the buffer is smaller than a row");
  }
  if (nextRow_ >= height_) throw std::invalid_argument("PngLoader::load: every row was read");

  if (passes_ == 1) {
    if (!readRow(buffer)) throwInvalid("nubrik::PngLoader::loadImpl");
  } else {
    if (!assembled_) {
      // Zeroed, so that no uninitialised byte can reach a caller.
      auto image = std::make_unique<uint8_t[]>(size_t{rowBytes} * height_);
      if (!readAllPasses(image.get())) throwInvalid("nubrik::PngLoader::loadImpl");
      assembled_ = std::move(image);
    }
    std::memcpy(buffer, assembled_.get() + size_t{nextRow_} * rowBytes, rowBytes);
  }
  ++nextRow_;
  return rowBytes;
}

void PngLoader::readProc(png_struct_def* png, uint8_t* data, size_t length) {
  auto* self = static_cast<PngLoader*>(png_get_io_ptr(png));
  bool complete = false;
  try {
    complete = self->readFully(data, length);
  } catch (...) {
    // A failing reader ends the decode below: exceptions must not cross
    // libpng's C frames.
  }
  if (!complete) png_error(png, "the stream ended or failed");
}

bool PngLoader::readFully(uint8_t* data, size_t length) {
  while (length > 0) {
    const uint32_t chunk =
        static_cast<uint32_t>(std::min<size_t>(length, std::numeric_limits<uint32_t>::max()));
    const uint32_t got = reader_->read(data, chunk);
    if (got != chunk) return false;
    data += got;
    length -= got;
  }
  return true;
}

}  // namespace nubrik
