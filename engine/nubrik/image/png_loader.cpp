#include "nubrik/image/png_loader.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/image/file_stream_reader.h"
#include "nubrik/image/memory_stream_reader.h"
#include "nubrik/image/pixel_lock.h"

namespace nubrik {

namespace {

// libpng's default handlers print to standard error; a library must not.
// Warnings are dropped.
void onWarning(png_structp, png_const_charp) {}

std::string describeReader(const IStreamReader* reader) {
  if (const auto* file = dynamic_cast<const FileStreamReader*>(reader)) return file->describe();
  if (const auto* memory = dynamic_cast<const MemoryStreamReader*>(reader)) {
    return memory->describe();
  }
  return "stream";
}

// The filtered image data a picture holds: every row of every pass with its
// filter byte (an empty pass has no rows).
uint64_t rawImageBytes(uint64_t width, uint64_t height, int bitDepth, int colourType,
                       bool interlaced) {
  const uint64_t channels = colourType == PNG_COLOR_TYPE_RGB          ? 3
                            : colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                            : colourType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                                                                      : 1;
  const uint64_t bits = channels * static_cast<uint64_t>(bitDepth);
  auto rows = [&](uint64_t w, uint64_t h) { return w == 0 ? 0 : h * (1 + (w * bits + 7) / 8); };
  if (!interlaced) return rows(width, height);
  static constexpr uint64_t kStartX[7] = {0, 4, 0, 2, 0, 1, 0}, kStepX[7] = {8, 8, 4, 4, 2, 2, 1};
  static constexpr uint64_t kStartY[7] = {0, 0, 4, 0, 2, 0, 1}, kStepY[7] = {8, 8, 8, 4, 4, 2, 2};
  uint64_t total = 0;
  for (int pass = 0; pass < 7; ++pass) {
    total += rows((width + kStepX[pass] - 1 - kStartX[pass]) / kStepX[pass],
                  (height + kStepY[pass] - 1 - kStartY[pass]) / kStepY[pass]);
  }
  return total;
}

}  // namespace

PngLoader::PngLoader(std::shared_ptr<IStreamReader> reader, Checksums checksums)
    : PngLoader(reader, describeReader(reader.get()), checksums) {}

PngLoader::PngLoader(std::shared_ptr<IStreamReader> reader, std::string source, Checksums checksums)
    : reader_(std::move(reader)), source_(std::move(source)) {
  if (!reader_) throw std::invalid_argument("nubrik::PngLoader::PngLoader: reader is null");
  pngStruct_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, &PngLoader::onError, onWarning);
  if (pngStruct_ != nullptr) infoStruct_ = png_create_info_struct(pngStruct_);
  if (infoStruct_ != nullptr) endInfoStruct_ = png_create_info_struct(pngStruct_);
  if (endInfoStruct_ == nullptr) {
    destroy();
    throw Exception(makeMessage(messages::kOutOfMemory, "nubrik::PngLoader::PngLoader", source_,
                                "the decoder's structures could not be allocated"));
  }
  if (!readHeader(checksums)) {
    destroy();
    fail("nubrik::PngLoader::PngLoader");
  }
}

// Errors end the libpng call by longjmp, after their text is kept.
void PngLoader::onError(png_struct_def* png, const char* message) {
  auto* self = static_cast<PngLoader*>(png_get_error_ptr(png));
  if (self != nullptr && message != nullptr && message != self->reason_) {
    std::snprintf(self->reason_, sizeof self->reason_, "%s", message);
  }
  png_longjmp(png, 1);
}

std::string PngLoader::failureReason() const {
  if (readFailure_) {
    try {
      std::rethrow_exception(readFailure_);
    } catch (const std::exception& e) {
      return std::string("reading failed: ") + e.what();
    } catch (...) {
      return "reading failed";
    }
  }
  return reason_[0] != '\0' ? reason_ : "the decoder refused the data";
}

void PngLoader::fail(const char* method) const {
  throw IoException(makeMessage(messages::kInvalidFileFormat, method, source_, failureReason()));
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
  // Every chunk but the header, palette, transparency and image data is
  // skipped unread: none changes the pixels we produce, and some would make
  // libpng allocate what their header declares.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
  imageDataLimit_ = kImageDataFactor * rawImageBytes(width, height, bitDepth, colourType,
                                                     interlace != PNG_INTERLACE_NONE) +
                    kImageDataSlack;
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
  if (width_ == 0 || height_ == 0 || width_ > kMaxSide || height_ > kMaxSide ||
      uint64_t{width_} * height_ > kMaxPixels) {
    std::snprintf(reason_, sizeof reason_,
                  "a picture of %u x %u pixels is over the limits of %u pixels a side and %llu "
                  "pixels in all",
                  width_, height_, kMaxSide, static_cast<unsigned long long>(kMaxPixels));
    return false;
  }
  if (bitDepth != 8 ||
      png_get_rowbytes(png, info) != uint64_t{width_} * bytesPerPixel(pixelFormat_)) {
    std::snprintf(reason_, sizeof reason_,
                  "rows of %llu bytes at depth %d do not make %u pixels of %u bytes",
                  static_cast<unsigned long long>(png_get_rowbytes(png, info)), bitDepth, width_,
                  bytesPerPixel(pixelFormat_));
    return false;
  }
  decodingRows_ = true;
  return true;
}

bool PngLoader::readRows(uint8_t* pixels, size_t pitch, uint64_t first, uint64_t last) noexcept {
  png_structp png = pngStruct_;
  // A cut-off comes only after the last row is out: the rows are complete.
  if (setjmp(png_jmpbuf(png))) return cutOff_;
  for (uint64_t call = first; call < last; ++call) {
    png_read_row(png, pixels + call % height_ * pitch, nullptr);
  }
  return true;
}

void PngLoader::decodeRows(uint8_t* pixels, size_t pitch, uint64_t first, uint64_t last) {
  if (!readRows(pixels, pitch, first, last)) fail("nubrik::PngLoader::loadImpl");
}

uint32_t PngLoader::loadImpl(uint8_t* buffer, uint32_t size) {
  if (failure_) std::rethrow_exception(failure_);
  const uint32_t rowBytes = getRowBytes();
  if (size < rowBytes) {
    throw std::invalid_argument("nubrik::PngLoader::load: a buffer of " + std::to_string(size) +
                                " bytes cannot hold a row of " + std::to_string(rowBytes));
  }
  if (nextRow_ >= height_) {
    throw std::invalid_argument("nubrik::PngLoader::load: all " + std::to_string(height_) +
                                " rows were read");
  }

  // From here on libpng has moved: a failure cannot be retried.
  try {
    if (passes_ == 1) {
      decodeRows(buffer, 0, nextRow_, nextRow_ + 1);
    } else {
      if (!assembled_) {
        std::vector<uint8_t> first(rowBytes);
        decodeRows(first.data(), 0, 0, 1);
        // Every byte is written by exactly one pass.
        assembled_.reset(new uint8_t[size_t{rowBytes} * height_]);
        std::memcpy(assembled_.get(), first.data(), rowBytes);
        decodeRows(assembled_.get(), rowBytes, 1, rowCalls());
      }
      std::memcpy(buffer, assembled_.get() + size_t{nextRow_} * rowBytes, rowBytes);
    }
  } catch (...) {
    assembled_.reset();
    failure_ = std::current_exception();
    throw;
  }
  ++nextRow_;
  return rowBytes;
}

std::shared_ptr<Image> PngLoader::loadImage() {
  if (failure_) std::rethrow_exception(failure_);
  if (nextRow_ != 0)
    throw std::logic_error("nubrik::PngLoader::loadImage: rows were loaded already");
  try {
    const size_t rowBytes = getRowBytes();
    std::vector<uint8_t> first(rowBytes);
    decodeRows(first.data(), 0, 0, 1);
    auto image = std::make_shared<Image>(width_, height_, pixelFormat_);
    PixelLock lock(*image);
    std::memcpy(lock.pixels(), first.data(), rowBytes);
    decodeRows(lock.pixels(), image->getPitch(), 1, rowCalls());
    nextRow_ = height_;
    return image;
  } catch (...) {
    failure_ = std::current_exception();
    throw;
  }
}

void PngLoader::readProc(png_struct_def* png, uint8_t* data, size_t length) {
  auto* self = static_cast<PngLoader*>(png_get_io_ptr(png));
  if (!self->acceptRead(png, length)) {
    std::snprintf(self->reason_, sizeof self->reason_,
                  "more image data than a picture of %u x %u pixels needs", self->width_,
                  self->height_);
    png_error(png, self->reason_);
  }
  bool complete = false;
  try {
    complete = self->readFully(data, length);
  } catch (...) {
    // A failing reader ends the decode below: exceptions must not cross
    // libpng's C frames. It is kept to be told as the reason.
    self->readFailure_ = std::current_exception();
  }
  if (!complete) {
    if (!self->readFailure_) {
      std::snprintf(self->reason_, sizeof self->reason_, "the data ends after %llu bytes",
                    static_cast<unsigned long long>(self->bytesRead_));
    }
    png_error(png, self->reason_);
  }
}

bool PngLoader::acceptRead(png_struct_def* png, size_t length) noexcept {
  if (!decodingRows_) return true;
  if (png_get_current_pass_number(png) >= 7 || png_get_current_row_number(png) >= height_) {
    // Every row is out; libpng only looks for the end of the data now.
    readAfterRows_ += length;
    cutOff_ = readAfterRows_ > kBytesAfterRows;
    return !cutOff_;
  }
  // Between rows libpng reads nothing but image data chunks.
  if (png_get_io_state(png) == (PNG_IO_READING | PNG_IO_CHUNK_DATA)) imageDataRead_ += length;
  return imageDataRead_ <= imageDataLimit_;
}

bool PngLoader::readFully(uint8_t* data, size_t length) {
  while (length > 0) {
    const uint32_t chunk =
        static_cast<uint32_t>(std::min<size_t>(length, std::numeric_limits<uint32_t>::max()));
    const uint32_t got = reader_->read(data, chunk);
    bytesRead_ += got;
    if (got != chunk) return false;
    data += got;
    length -= got;
  }
  return true;
}

}  // namespace nubrik
