#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "nubrik/image/image_loader.h"
#include "nubrik/image/stream_reader.h"

struct png_struct_def;
struct png_info_def;

namespace nubrik {

// Decodes PNG data from a stream into 8-bit Grey, Rgb, GreyAlpha or Rgba rows
// (colour bytes blue first). Every colour type and bit depth is accepted;
// transparency chunks become an alpha channel, 16-bit samples are cut to 8,
// and interlaced files decode to the same pixels as their plain twins.
//
// Bad data fails with IoException "Invalid file format in %s method.", from
// the constructor (signature, header, anything before the image data, or a
// picture larger than the limits below) or from loadImpl (the image data).
class PngLoader final : public IImageLoader {
 public:
  // Larger pictures are refused as invalid: 100 million pixels is 400 MB of
  // Rgba, and no side may exceed a million pixels.
  static constexpr uint32_t kMaxSide = 1'000'000;
  static constexpr uint64_t kMaxPixels = 100'000'000;

  // Checksums are always verified on real input. The fuzz target alone turns
  // them off, so that mutated data reaches the decoder.
  enum class Checksums { Verify, IgnoreForFuzzing };

  explicit PngLoader(std::shared_ptr<IStreamReader> reader,
                     Checksums checksums = Checksums::Verify);
  ~PngLoader() override;
  PngLoader(const PngLoader&) = delete;
  PngLoader& operator=(const PngLoader&) = delete;

  uint32_t getWidth() const override { return width_; }
  uint32_t getHeight() const override { return height_; }
  PixelFormat getPixelFormat() const override { return pixelFormat_; }
  uint32_t getRowBytes() const override { return width_ * bytesPerPixel(pixelFormat_); }

 protected:
  // Throws std::invalid_argument when `size` is below getRowBytes() or every
  // row has been read.
  uint32_t loadImpl(uint8_t* buffer, uint32_t size) override;

 private:
  // The functions that call into libpng keep no C++ object with a destructor
  // alive, since libpng leaves them by longjmp on an error.
  bool readHeader(Checksums checksums) noexcept;
  bool readRow(uint8_t* row) noexcept;
  bool readAllPasses(uint8_t* image) noexcept;
  static void readProc(png_struct_def* png, uint8_t* data, size_t length);
  bool readFully(uint8_t* data, size_t length);
  void destroy() noexcept;

  std::shared_ptr<IStreamReader> reader_;
  png_struct_def* pngStruct_ = nullptr;
  png_info_def* infoStruct_ = nullptr;
  png_info_def* endInfoStruct_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  PixelFormat pixelFormat_ = PixelFormat::Grey;
  int passes_ = 1;
  uint32_t nextRow_ = 0;
  // An interlaced picture is assembled whole on the first load, then handed
  // out a row at a time.
  std::unique_ptr<uint8_t[]> assembled_;
};

}  // namespace nubrik
