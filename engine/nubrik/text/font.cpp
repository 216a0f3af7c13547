#include "nubrik/text/font.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/text/font_face.h"
#include "nubrik/text/text_layout.h"

#if defined(_WIN32)
#include "nubrik/base/platform/win32_api.h"
#else
#include <unistd.h>
#endif

namespace nubrik {

namespace {

constexpr char kFromFile[] = "nubrik::Font::fromFile";

[[noreturn]] void fail(const char* format, const char* method, const std::string& where,
                       const std::string& reason) {
  throw IoException(makeMessage(format, method, where, reason));
}

// The platform's words for the call that has just failed.
std::string systemReason() { return describeError(platform::lastError()); }

// The whole file, or why not.
std::vector<uint8_t> readFontFile(const std::string& path) {
  refuseNulInPath(path, kFromFile);
  const std::string where = describeFile(path);
  struct Closer {
    void operator()(platform::FileObject* file) const { platform::closeFile(file); }
  };
  std::unique_ptr<platform::FileObject, Closer> file(platform::openFileForReading(path.c_str()));
  if (!file) fail(messages::kCreateFileFailed, kFromFile, where, systemReason());
  int64_t length = 0;
  if (!platform::fileLength(file.get(), &length)) {
    fail(messages::kGetFileSizeFailed, kFromFile, where, systemReason());
  }
  if (length < 0 || static_cast<uint64_t>(length) > Font::kMaxFileBytes) {
    fail(messages::kInvalidFileFormat, kFromFile, where,
         "larger than " + std::to_string(Font::kMaxFileBytes >> 20) + " MiB");
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  size_t done = 0;
  while (done < bytes.size()) {
    const auto want = static_cast<uint32_t>(std::min<size_t>(bytes.size() - done, 1u << 30));
    uint32_t got = 0;
    if (!platform::readFile(file.get(), bytes.data() + done, want, &got)) {
      fail(messages::kReadFileFailed, kFromFile, where, systemReason());
    }
    if (got == 0) fail(messages::kReadFileFailed, kFromFile, where, "it shrank while being read");
    done += got;
  }
  return bytes;
}

}  // namespace

Font::Font(std::unique_ptr<FontFace> face) : face_(std::move(face)) {}

Font::~Font() = default;

std::shared_ptr<Font> Font::fromFile(const std::string& path) {
  std::vector<uint8_t> bytes = readFontFile(path);
  try {
    return std::shared_ptr<Font>(
        new Font(std::make_unique<FontFace>(std::move(bytes), kDefaultGlyphCacheBytes)));
  } catch (const FontError& e) {
    fail(messages::kInvalidFileFormat, kFromFile, describeFile(path), e.what());
  }
}

std::shared_ptr<Font> Font::fromMemory(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr && size != 0) {
    throw std::invalid_argument("nubrik::Font::fromMemory: no bytes given for a size of " +
                                std::to_string(size));
  }
  std::vector<uint8_t> copy =
      size == 0 ? std::vector<uint8_t>() : std::vector<uint8_t>(bytes, bytes + size);
  try {
    return std::shared_ptr<Font>(
        new Font(std::make_unique<FontFace>(std::move(copy), kDefaultGlyphCacheBytes)));
  } catch (const FontError& e) {
    fail(messages::kInvalidFileFormat, "nubrik::Font::fromMemory",
         "memory (" + std::to_string(size) + " bytes)", e.what());
  }
}

std::shared_ptr<Font> Font::defaultFont() {
  std::vector<std::filesystem::path> folders;
  if (const std::string folder = platform::programFolder(); !folder.empty()) {
    folders.emplace_back(folder);
  }
  folders.emplace_back(".");
#if !defined(_WIN32)
  folders.emplace_back("/usr/share/fonts/truetype/dejavu");
#endif
  std::string looked;
  for (const auto& folder : folders) {
    const std::filesystem::path candidate = folder / kDefaultFontFile;
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return fromFile(candidate.string());
    if (!looked.empty()) looked += ", ";
    looked += '"';
    looked += folder.string();
    looked += '"';
  }
  fail(messages::kCreateFileFailed, "nubrik::Font::defaultFont", describeFile(kDefaultFontFile),
       "in none of the folders " + looked);
}

void Font::checkPixelSize(uint32_t pixelSize) {
  if (pixelSize < kMinPixelSize || pixelSize > kMaxPixelSize) {
    throw std::invalid_argument("pixel size " + std::to_string(pixelSize) +
                                " is outside the range " + std::to_string(kMinPixelSize) + " to " +
                                std::to_string(kMaxPixelSize));
  }
}

Rect Font::measureText(std::string_view utf8, uint32_t pixelSize) const {
  checkPixelSize(pixelSize);
  TextBox box;
  {
    std::lock_guard lock(face_->mutex());
    box = TextLayout(*face_, pixelSize, TextAlignment::Left).measure(utf8);
  }
  const auto clamp = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
  };
  return Rect{clamp(box.left), clamp(box.top), clamp(box.right), clamp(box.bottom)};
}

std::string Font::getFamilyName() const {
  std::lock_guard lock(face_->mutex());
  return face_->familyName();
}

void Font::setGlyphCacheLimit(size_t bytes) {
  std::lock_guard lock(face_->mutex());
  face_->cache().setLimit(bytes);
}

size_t Font::getGlyphCacheBytes() const {
  std::lock_guard lock(face_->mutex());
  return face_->cache().bytes();
}

}  // namespace nubrik
