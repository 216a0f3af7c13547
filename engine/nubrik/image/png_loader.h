#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "nubrik/image/image.h"
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
// After such a failure every later load throws the same exception again.
// Every message goes on with where the data came from and why it was
// refused, one line: ... method. file "snow.png": the data ends after 812
// bytes. A reader's own failure is given as the reason ("reading failed:"
// and its message).
//
// What a file can make the decoder spend is bounded by the picture it holds:
// ancillary chunks other than transparency are skipped unread, whatever size
// they declare; image data that needs more than kImageDataFactor times the
// rows' raw size (plus kImageDataSlack) to produce them is refused; and once
// the last row is out, at most kBytesAfterRows more bytes are read, the rest
// of the image data being left unread, as any chunk after it is.
class PngLoader final : public IImageLoader {
 public:
  // Larger pictures are refused as invalid: 100 million pixels is 400 MB of
  // Rgba, and no side may exceed a million pixels.
  static constexpr uint32_t kMaxSide = 1'000'000;
  static constexpr uint64_t kMaxPixels = 100'000'000;
  // Stored deflate blocks of one row each need at most 3.5 times the raw
  // size; no encoder needs more.
  static constexpr uint64_t kImageDataFactor = 4;
  static constexpr uint64_t kImageDataSlack = 64 * 1024;
  static constexpr uint64_t kBytesAfterRows = 16 * 1024;

  // Checksums are always verified on real input. The fuzz target alone turns
  // them off, so that mutated data reaches the decoder.
  enum class Checksums { Verify, IgnoreForFuzzing };

  // `reader` must not be null (std::invalid_argument). Messages name the
  // data as the reader does (FileStreamReader and MemoryStreamReader), else
  // as "stream".
  explicit PngLoader(std::shared_ptr<IStreamReader> reader,
                     Checksums checksums = Checksums::Verify);
  // The same, with messages naming the data as `source` (such as a file name
  // or "archive entry 3") instead.
  PngLoader(std::shared_ptr<IStreamReader> reader, std::string source,
            Checksums checksums = Checksums::Verify);
  ~PngLoader() override;
  PngLoader(const PngLoader&) = delete;
  PngLoader& operator=(const PngLoader&) = delete;

  uint32_t getWidth() const override { return width_; }
  uint32_t getHeight() const override { return height_; }
  PixelFormat getPixelFormat() const override { return pixelFormat_; }
  uint32_t getRowBytes() const override { return width_ * bytesPerPixel(pixelFormat_); }

  // Decodes the whole picture into a new image, in place of getHeight()
  // loads. The image is allocated only once the first row has been decoded,
  // so a file without image data costs no memory, and interlaced pictures are
  // assembled in the image itself. Throws std::logic_error once a row has
  // been loaded, and fails as load() does.
  std::shared_ptr<Image> loadImage();

 protected:
  // Throws std::invalid_argument when `size` is below getRowBytes() or every
  // row has been read. Interlaced pictures are assembled in a buffer of the
  // loader's own on the first call, then handed out a row at a time.
  uint32_t loadImpl(uint8_t* buffer, uint32_t size) override;

 private:
  // The functions that call into libpng keep no C++ object with a destructor
  // alive, since libpng leaves them by longjmp on an error.
  bool readHeader(Checksums checksums) noexcept;
  bool readRows(uint8_t* pixels, size_t pitch, uint64_t first, uint64_t last) noexcept;
  static void readProc(png_struct_def* png, uint8_t* data, size_t length);
  bool readFully(uint8_t* data, size_t length);
  bool acceptRead(png_struct_def* png, size_t length) noexcept;
  // The rows' libpng calls: one per row and pass, all passes seeing every row.
  uint64_t rowCalls() const { return uint64_t{height_} * passes_; }
  void decodeRows(uint8_t* pixels, size_t pitch, uint64_t first, uint64_t last);
  void destroy() noexcept;
  static void onError(png_struct_def* png, const char* message);
  // Why the last libpng call failed: the reader's failure, or the text
  // libpng (or readProc) gave.
  std::string failureReason() const;
  [[noreturn]] void fail(const char* method) const;

  std::shared_ptr<IStreamReader> reader_;
  std::string source_;
  png_struct_def* pngStruct_ = nullptr;
  png_info_def* infoStruct_ = nullptr;
  png_info_def* endInfoStruct_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  PixelFormat pixelFormat_ = PixelFormat::Grey;
  int passes_ = 1;
  uint32_t nextRow_ = 0;
  std::unique_ptr<uint8_t[]> assembled_;
  // Set once a load has failed; rethrown by every later one.
  std::exception_ptr failure_;
  // Filled inside libpng's calls, which may not allocate or throw: a fixed
  // buffer for the text, the reader's exception kept as it was.
  char reason_[256] = {};
  std::exception_ptr readFailure_;
  uint64_t bytesRead_ = 0;

  // What the stream may still cost, kept by readProc.
  bool decodingRows_ = false;
  uint64_t imageDataLimit_ = 0;
  uint64_t imageDataRead_ = 0;
  uint64_t readAfterRows_ = 0;
  bool cutOff_ = false;
};

}  // namespace nubrik
