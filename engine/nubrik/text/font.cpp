#include "nubrik/text/font.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

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

// Messages that name a file carry outside text, so they are built here
// rather than from the engine's format templates.
Message textMessage(const std::string& text) {
  auto message = std::make_shared<char[]>(text.size() + 1);
  std::memcpy(message.get(), text.c_str(), text.size() + 1);
  return message;
}

[[noreturn]] void fail(const std::string& what, const std::string& reason, const char* method) {
  throw IoException(
      textMessage("Cannot load the font " + what + " (" + reason + ") in " + method + " method."));
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// The whole file, or why not.
std::vector<uint8_t> readFontFile(const std::string& path) {
  constexpr const char* kMethod = "nubrik::Font::fromFile";
  struct Closer {
    void operator()(platform::FileObject* file) const { platform::closeFile(file); }
  };
  std::unique_ptr<platform::FileObject, Closer> file(platform::openFileForReading(path.c_str()));
  if (!file) fail(quoted(path), platform::errorText(platform::lastError()), kMethod);
  int64_t length = 0;
  if (!platform::fileLength(file.get(), &length)) {
    fail(quoted(path), platform::errorText(platform::lastError()), kMethod);
  }
  if (length < 0 || static_cast<uint64_t>(length) > Font::kMaxFileBytes) {
    fail(quoted(path), "larger than " + std::to_string(Font::kMaxFileBytes >> 20) + " MiB",
         kMethod);
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  size_t done = 0;
  while (done < bytes.size()) {
    const auto want = static_cast<uint32_t>(std::min<size_t>(bytes.size() - done, 1u << 30));
    uint32_t got = 0;
    if (!platform::readFile(file.get(), bytes.data() + done, want, &got)) {
      fail(quoted(path), platform::errorText(platform::lastError()), kMethod);
    }
    if (got == 0) fail(quoted(path), "it shrank while being read", kMethod);
    done += got;
  }
  return bytes;
}

std::filesystem::path programFolder() {
#if defined(_WIN32)
  char name[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, name, sizeof name);
  if (length == 0 || length >= sizeof name) return {};
  return std::filesystem::path(std::string(name, length)).parent_path();
#else
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : program.parent_path();
#endif
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
    fail(quoted(path), e.what(), "nubrik::Font::fromFile");
  }
}

std::shared_ptr<Font> Font::fromMemory(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr && size != 0) {
    throw std::invalid_argument("Font::fromMemory: null bytes with a size of " +
                                std::to_string(size));
  }
  std::vector<uint8_t> copy =
      size == 0 ? std::vector<uint8_t>() : std::vector<uint8_t>(bytes, bytes + size);
  try {
    return std::shared_ptr<Font>(
        new Font(std::make_unique<FontFace>(std::move(copy), kDefaultGlyphCacheBytes)));
  } catch (const FontError& e) {
    fail("from memory", e.what(), "nubrik::Font::fromMemory");
  }
}

std::shared_ptr<Font> Font::defaultFont() {
  std::vector<std::filesystem::path> folders;
  if (auto folder = programFolder(); !folder.empty()) folders.push_back(std::move(folder));
  folders.emplace_back(".");
#if !defined(_WIN32)
  folders.emplace_back("/usr/share/fonts/truetype/dejavu");
#endif
  std::string looked;
  for (const auto& folder : folders) {
    const std::filesystem::path candidate = folder / kDefaultFontFile;
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return fromFile(candidate.string());
    looked += (looked.empty() ? "" : ", ") + quoted(folder.string());
  }
  throw IoException(textMessage(std::string("No default font: ") + kDefaultFontFile +
                                " is in none of " + looked +
                                " in nubrik::Font::defaultFont method."));
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
