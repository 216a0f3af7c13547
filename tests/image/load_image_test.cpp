#include "nubrik/image/load_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "nubrik/base/exception.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/image/memory_stream_reader.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/image/png_encoder.h"
#include "nubrik/image/png_loader.h"

#if defined(_WIN32)
#include "nubrik/base/platform/win32_api.h"
#endif

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

// A reader whose platform fails after the first `good` bytes.
class FailingReader final : public IStreamReader {
 public:
  FailingReader(std::vector<uint8_t> bytes, uint32_t good)
      : bytes_(std::move(bytes)), good_(good) {}

 protected:
  uint32_t readImpl(uint8_t* buffer, uint32_t count) override {
    if (bytes_.getCursor() + count > good_) throw IoException(makeMessage("Disk gone in %s.", "x"));
    return bytes_.read(buffer, count);
  }
  uint32_t skipImpl(uint32_t count) override { return bytes_.skip(count); }
  bool isEndOfStreamImpl() override { return bytes_.isEndOfStream(); }
  void seekImpl(int64_t offset, SeekOrigin origin) override { bytes_.seek(offset, origin); }
  int64_t getCursorImpl() override { return bytes_.getCursor(); }
  int64_t getLengthImpl() override { return bytes_.getLength(); }

 private:
  MemoryStreamReader bytes_;
  uint32_t good_;
};

// Every way a picture can fail to load says, on one line, the template's
// words, where (the file, or memory), and why: the system's text for a
// platform failure, the decoder's for bad data.
TEST(LoadImageTest, FailuresSayWhatWhereAndWhy) {
  const std::string open =
      "CreateFileA API failed in nubrik::FileStreamReader::FileStreamReader method.";
  const std::string header = "Invalid file format in nubrik::PngLoader::PngLoader method.";
  const std::string rows = "Invalid file format in nubrik::PngLoader::loadImpl method.";
  const auto folder =
      std::filesystem::temp_directory_path() / ("nubrik_errors_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  auto at = [&](const char* name) { return (folder / name).string(); };
  std::mt19937 random(5);
  PngPicture picture;
  picture.width = picture.height = 32;
  picture.colourType = 2;
  picture.rows.resize(size_t{picture.rowBytes()} * picture.height);
  for (auto& b : picture.rows) b = static_cast<uint8_t>(random());
  const std::vector<uint8_t> png = encodePng(picture);
  const std::vector<uint8_t> cut(png.begin(), png.begin() + static_cast<ptrdiff_t>(png.size() / 2));
  std::vector<uint8_t> text(png.size(), 'a');
  writeFile(at("cut.png"), cut);
  writeFile(at("text.png"), text);
  writeFile(at("locked.png"), png);

  struct Case {
    const char* name;
    std::function<void()> load;
    std::string head, where, reason;  // an empty reason: any, the system's for a platform code
  };
  const auto file = [&](const char* name) { return describeFile(at(name)); };
  const auto memory = [](const std::vector<uint8_t>& bytes) {
    return "memory (" + std::to_string(bytes.size()) + " bytes)";
  };
  std::vector<Case> cases = {
      {"missing", [&] { loadImageFromFile(at("missing.png")); }, open, file("missing.png"), ""},
      {"directory", [&] { loadImageFromFile(folder.string()); }, open,
       describeFile(folder.string()), ""},
      {"line break in the name", [&] { loadImageFromFile(at("two\nlines.png")); }, open,
       describeFile(at("two\\x0Alines.png")), ""},
      {"cut file", [&] { loadImageFromFile(at("cut.png")); }, rows, file("cut.png"),
       "the data ends after " + std::to_string(cut.size()) + " bytes"},
      {"cut memory", [&] { loadImageFromMemory(cut.data(), cut.size()); }, rows, memory(cut),
       "the data ends after " + std::to_string(cut.size()) + " bytes"},
      {"no signature in a file", [&] { loadImageFromFile(at("text.png")); }, header,
       file("text.png"), ""},
      {"no signature in memory", [&] { loadImageFromMemory(text.data(), text.size()); }, header,
       memory(text), ""},
      {"a reader that fails",
       [&] { PngLoader(std::make_shared<FailingReader>(png, 100), "entry 3").loadImage(); }, rows,
       "entry 3", "reading failed: Disk gone in x."},
  };
#if defined(_WIN32)
  // Held by another opener that shares it with no one.
  const HANDLE holder = CreateFileA(at("locked.png").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  cases.push_back(
      {"locked", [&] { loadImageFromFile(at("locked.png")); }, open, file("locked.png"), ""});
#else
  ASSERT_EQ(mkfifo(at("pipe.png").c_str(), 0600), 0);
  cases.push_back(
      {"a pipe", [&] { loadImageFromFile(at("pipe.png")); }, open, file("pipe.png"), ""});
  chmod(at("locked.png").c_str(), 0);
  if (access(at("locked.png").c_str(), R_OK) != 0) {  // root reads it all the same
    cases.push_back(
        {"no access", [&] { loadImageFromFile(at("locked.png")); }, open, file("locked.png"), ""});
  }
#endif

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.load();
      ADD_FAILURE() << "loaded";
    } catch (const Exception& e) {
      const std::string what = e.what();
      std::string reason = c.reason;
      if (const auto* failed = dynamic_cast<const Win32Exception*>(&e)) {
        EXPECT_NE(failed->errorCode(), 0u);
        if (reason.empty()) reason = platform::errorText(failed->errorCode());
      } else {
        EXPECT_NE(dynamic_cast<const IoException*>(&e), nullptr) << what;
      }
      const std::string start = c.head + " " + c.where + ": ";
      EXPECT_TRUE(what.starts_with(start)) << what;
      EXPECT_GT(what.size(), start.size()) << "no reason: " << what;
      EXPECT_NE(what.find(reason, start.size()), std::string::npos) << what;
      EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
  }
#if defined(_WIN32)
  CloseHandle(holder);
#endif
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace nubrik
