#include "nubrik/image/png_loader.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/image/load_image.h"
#include "nubrik/image/memory_stream_reader.h"
#include "nubrik/image/pixel_lock.h"
#include "nubrik/image/png_encoder.h"

#if defined(_WIN32)
#include "nubrik/base/platform/win32_api.h"
#endif

namespace nubrik {
namespace {

struct Decoded {
  PixelFormat format = PixelFormat::Grey;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> bytes;
};

// Decodes row by row, and checks that decoding the whole picture at once
// gives the same bytes, or the same failure.
Decoded decode(std::vector<uint8_t> png) {
  std::string wholeFailure;
  std::shared_ptr<Image> whole;
  try {
    whole = PngLoader(std::make_shared<MemoryStreamReader>(png)).loadImage();
  } catch (const IoException& e) {
    wholeFailure = e.what();
  }
  Decoded out;
  try {
    PngLoader loader(std::make_shared<MemoryStreamReader>(std::move(png)));
    out = {loader.getPixelFormat(), loader.getWidth(), loader.getHeight(), {}};
    out.bytes.resize(size_t{loader.getRowBytes()} * loader.getHeight());
    for (uint32_t y = 0; y < loader.getHeight(); ++y) {
      EXPECT_EQ(loader.load(out.bytes.data() + y * loader.getRowBytes(), loader.getRowBytes()),
                loader.getRowBytes());
    }
  } catch (const IoException& e) {
    EXPECT_EQ(wholeFailure, e.what()) << "whole and row by row fail alike";
    throw;
  }
  EXPECT_EQ(wholeFailure, "");
  if (whole) {
    EXPECT_EQ(std::vector<uint8_t>(whole->lockConst(), whole->lockConst() + out.bytes.size()),
              out.bytes)
        << "whole and row by row decode alike";
  }
  return out;
}

// One sample of a PNG row, at its own depth.
uint32_t sample(const PngPicture& p, uint32_t y, uint32_t index) {
  const uint8_t* row = p.rows.data() + size_t{y} * p.rowBytes();
  if (p.bitDepth == 16) return row[index * 2] << 8 | row[index * 2 + 1];
  if (p.bitDepth == 8) return row[index];
  const uint32_t bit = index * p.bitDepth;
  return (row[bit / 8] >> (8 - p.bitDepth - bit % 8)) & ((1u << p.bitDepth) - 1);
}

// What the loader must produce, written out plainly from PNG's own rules.
Decoded expectedPixels(const PngPicture& p) {
  Decoded out{PixelFormat::Grey, p.width, p.height, {}};
  const bool trns = !p.transparency.empty();
  auto key = [&](int i) {
    return uint32_t(p.transparency[i * 2] << 8 | p.transparency[i * 2 + 1]);
  };
  auto to8 = [&](uint32_t v) -> uint8_t {
    switch (p.bitDepth) {
      case 1:
        return v * 255;
      case 2:
        return v * 85;
      case 4:
        return v * 17;
      case 16:
        return v >> 8;
      default:
        return v;
    }
  };
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = 0; x < p.width; ++x) {
      switch (p.colourType) {
        case 0: {
          const uint32_t v = sample(p, y, x);
          out.format = trns ? PixelFormat::GreyAlpha : PixelFormat::Grey;
          out.bytes.push_back(to8(v));
          if (trns) out.bytes.push_back(v == key(0) ? 0 : 255);
          break;
        }
        case 2: {
          const uint32_t r = sample(p, y, 3 * x), g = sample(p, y, 3 * x + 1),
                         b = sample(p, y, 3 * x + 2);
          out.format = trns ? PixelFormat::Rgba : PixelFormat::Rgb;
          out.bytes.insert(out.bytes.end(), {to8(b), to8(g), to8(r)});
          if (trns) out.bytes.push_back(r == key(0) && g == key(1) && b == key(2) ? 0 : 255);
          break;
        }
        case 3: {
          const uint32_t i = sample(p, y, x);
          out.format = trns ? PixelFormat::Rgba : PixelFormat::Rgb;
          out.bytes.insert(out.bytes.end(),
                           {p.palette[3 * i + 2], p.palette[3 * i + 1], p.palette[3 * i]});
          if (trns) out.bytes.push_back(i < p.transparency.size() ? p.transparency[i] : 255);
          break;
        }
        case 4:
          out.format = PixelFormat::GreyAlpha;
          out.bytes.insert(out.bytes.end(),
                           {to8(sample(p, y, 2 * x)), to8(sample(p, y, 2 * x + 1))});
          break;
        case 6:
          out.format = PixelFormat::Rgba;
          out.bytes.insert(out.bytes.end(),
                           {to8(sample(p, y, 4 * x + 2)), to8(sample(p, y, 4 * x + 1)),
                            to8(sample(p, y, 4 * x)), to8(sample(p, y, 4 * x + 3))});
          break;
      }
    }
  }
  return out;
}

PngPicture randomPicture(std::mt19937& random, int colourType, int depth, uint32_t width,
                         uint32_t height, bool withTransparency) {
  PngPicture p;
  p.width = width;
  p.height = height;
  p.colourType = colourType;
  p.bitDepth = depth;
  p.rows.resize(size_t{p.rowBytes()} * height);
  for (auto& b : p.rows) b = static_cast<uint8_t>(random());
  if (colourType == 3) {
    p.palette.resize(3u << depth);
    for (auto& b : p.palette) b = static_cast<uint8_t>(random());
    if (withTransparency) {
      p.transparency.resize(1 + random() % (1u << depth));  // shorter than the palette at times
      for (auto& b : p.transparency) b = static_cast<uint8_t>(random());
    }
  } else if (withTransparency && (colourType == 0 || colourType == 2)) {
    // A key that some pixels match: the first pixel's samples.
    for (int c = 0; c < (colourType == 2 ? 3 : 1); ++c) {
      const uint32_t v = sample(p, 0, c);
      p.transparency.insert(p.transparency.end(), {uint8_t(v >> 8), uint8_t(v)});
    }
  }
  return p;
}

TEST(PngLoaderTest, EveryColourTypeAndDepthDecodesExactly) {
  const struct {
    int colourType;
    std::vector<int> depths;
  } kinds[] = {{0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  const uint32_t sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {13, 7}, {33, 5}};
  std::mt19937 random(5);
  for (const auto& kind : kinds) {
    for (int depth : kind.depths) {
      for (const auto& size : sizes) {
        for (bool trns : {false, true}) {
          if (trns && (kind.colourType == 4 || kind.colourType == 6)) continue;
          SCOPED_TRACE(::testing::Message()
                       << "type " << kind.colourType << " depth " << depth << " size " << size[0]
                       << "x" << size[1] << " trns " << trns);
          PngPicture picture =
              randomPicture(random, kind.colourType, depth, size[0], size[1], trns);
          const Decoded expected = expectedPixels(picture);
          const Decoded plain = decode(encodePng(picture));
          EXPECT_EQ(plain.format, expected.format);
          EXPECT_EQ(plain.width, size[0]);
          EXPECT_EQ(plain.height, size[1]);
          EXPECT_EQ(plain.bytes, expected.bytes);
          picture.interlaced = true;
          EXPECT_EQ(decode(encodePng(picture)).bytes, expected.bytes) << "interlaced twin";
        }
      }
    }
  }
}

TEST(PngLoaderTest, OneBitGreyIsExpandedToFullBytes) {
  PngPicture p{3, 2, 0, 1, false, {0b10100000, 0b01000000}, {}, {}};
  const Decoded d = decode(encodePng(p));
  EXPECT_EQ(d.format, PixelFormat::Grey);
  EXPECT_EQ(d.bytes, (std::vector<uint8_t>{255, 0, 255, 0, 255, 0}));
}

std::vector<uint8_t> validPng(uint32_t width = 16, uint32_t height = 16) {
  std::mt19937 random(9);
  return encodePng(randomPicture(random, 6, 8, width, height, false));
}

// Offset of the first byte of the first chunk of `type`.
size_t chunkOffset(const std::vector<uint8_t>& png, const char* type) {
  for (size_t at = 8; at + 8 <= png.size();) {
    const uint32_t length = png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    if (std::memcmp(&png[at + 4], type, 4) == 0) return at;
    at += 12 + length;
  }
  return png.size();
}

void expectInvalid(std::vector<uint8_t> png, const char* method) {
  try {
    decode(std::move(png));
    FAIL() << "decoded";
  } catch (const IoException& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with(
        std::string("Invalid file format in nubrik::PngLoader::") + method + " method. "))
        << e.what();
  }
}

TEST(PngLoaderTest, BadInputFailsWhereItIsFound) {
  const std::string text = "This is a text document, not a picture.\n";
  expectInvalid(std::vector<uint8_t>(text.begin(), text.end()), "PngLoader");
  expectInvalid({}, "PngLoader");

  auto png = validPng();
  const size_t ihdr = chunkOffset(png, "IHDR"), idat = chunkOffset(png, "IDAT");
  auto damagedHeader = png;
  damagedHeader[ihdr + 9] ^= 0x40;
  expectInvalid(damagedHeader, "PngLoader");

  auto damagedData = png;
  for (size_t i = idat + 10; i < idat + 30; ++i) damagedData[i] ^= 0x5A;
  expectInvalid(damagedData, "loadImpl");

  expectInvalid(std::vector<uint8_t>(png.begin(), png.begin() + idat), "PngLoader");
  expectInvalid(std::vector<uint8_t>(png.begin(), png.begin() + idat + 20), "loadImpl");
}

// A header claiming `width` x `height`, with a correct checksum.
std::vector<uint8_t> withSize(std::vector<uint8_t> png, uint32_t width, uint32_t height) {
  const size_t ihdr = chunkOffset(png, "IHDR");
  for (int i = 0; i < 4; ++i) {
    png[ihdr + 8 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
    png[ihdr + 12 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
  }
  const uint32_t crc = static_cast<uint32_t>(crc32(0, &png[ihdr + 4], 17));
  for (int i = 0; i < 4; ++i) png[ihdr + 21 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  return png;
}

TEST(PngLoaderTest, AbsurdSizesAreRefusedBeforeAnyAllocation) {
  expectInvalid(withSize(validPng(), 0x7FFFFFFF, 0x7FFFFFFF), "PngLoader");
  expectInvalid(withSize(validPng(), 1'000'001, 1), "PngLoader");
  expectInvalid(withSize(validPng(), 20'000, 20'000), "PngLoader");  // 400 million pixels
  // Within the limits, yet the data is far too short: fails while reading rows.
  expectInvalid(withSize(validPng(), 10'000, 10'000), "loadImpl");
}

TEST(PngLoaderTest, RefusesBuffersSmallerThanARow) {
  PngLoader loader(std::make_shared<MemoryStreamReader>(validPng(16, 2)));
  std::vector<uint8_t> row(64);
  EXPECT_THROW(loader.load(row.data(), 63), std::invalid_argument);
  EXPECT_THROW(loader.load(nullptr, 64), std::invalid_argument);
  EXPECT_THROW(PngLoader(nullptr), std::invalid_argument);
  EXPECT_EQ(loader.load(row.data(), 64), 64u);
  EXPECT_EQ(loader.load(row.data(), 64), 64u);
  EXPECT_THROW(loader.load(row.data(), 64), std::invalid_argument);  // no third row
}

// A reader that counts the reads reaching its bytes, and whose storage fails
// for any read past the first `good` bytes.
class CountingReader final : public IStreamReader {
 public:
  explicit CountingReader(std::vector<uint8_t> bytes, int64_t good = INT64_MAX)
      : bytes_(std::move(bytes)), good_(good) {}
  int reads = 0;

 protected:
  uint32_t readImpl(uint8_t* buffer, uint32_t count) override {
    ++reads;
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
  int64_t good_;
};

TEST(PngLoaderTest, AFailedDecodeStaysFailedWithoutTouchingTheData) {
  for (bool interlaced : {false, true}) {
    std::mt19937 random(3);
    PngPicture picture = randomPicture(random, 2, 8, 40, 40, false);
    picture.interlaced = interlaced;
    auto png = encodePng(picture);
    png.resize(chunkOffset(png, "IDAT") + 200);  // cut inside the image data
    auto reader = std::make_shared<CountingReader>(png);
    PngLoader loader(reader);
    std::vector<uint8_t> row(loader.getRowBytes());
    std::string failure;
    for (uint32_t y = 0; y < loader.getHeight() && failure.empty(); ++y) {
      try {
        loader.load(row.data(), loader.getRowBytes());
      } catch (const IoException& e) {
        failure = e.what();
      }
    }
    ASSERT_TRUE(failure.starts_with("Invalid file format in nubrik::PngLoader::loadImpl method. "))
        << failure;
    const int reads = reader->reads;
    for (int i = 0; i < 3; ++i) {
      try {
        if (i < 2)
          loader.load(row.data(), loader.getRowBytes());
        else
          loader.loadImage();
        FAIL() << "decoded after a failure";
      } catch (const IoException& e) {
        EXPECT_EQ(failure, e.what());
      }
    }
    EXPECT_EQ(reader->reads, reads);
  }
}

#ifndef _WIN32
int openFileCount() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}
#endif

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  writeFile(path, bytes);
  return path;
}

TEST(LoadImageFromFileTest, DecodesAnyNameAndClosesTheFileOnFailure) {
  const auto png = validPng(64, 48);
  const auto image = loadImageFromFile(writeTemp("nubrik_load.gra", png));
  EXPECT_EQ(image->getWidth(), 64u);
  EXPECT_EQ(image->getHeight(), 48u);
  EXPECT_EQ(image->getPixelFormat(), PixelFormat::Rgba);
  EXPECT_EQ(image->getPitch(), 256u);

  const std::string cut =
      writeTemp("nubrik_cut.png", std::vector<uint8_t>(png.begin(), png.begin() + png.size() / 2));
#ifndef _WIN32
  const int before = openFileCount();
#endif
  try {
    loadImageFromFile(cut);
    FAIL();
  } catch (const IoException& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with(
        "Invalid file format in nubrik::PngLoader::loadImpl method. "))
        << e.what();
  }
#ifdef _WIN32
  // Opened without sharing deletion: removable only once closed. (The
  // process's descriptors under wine include the emulator's own.)
  EXPECT_TRUE(std::filesystem::remove(cut));
#else
  EXPECT_EQ(openFileCount(), before);
#endif

  try {
    // A missing file in a folder that exists: a missing folder has a code
    // of its own on Windows.
    loadImageFromFile((std::filesystem::temp_directory_path() / "nubrik_missing.png").string());
    FAIL();
  } catch (const Win32Exception& e) {
    EXPECT_EQ(e.errorCode(), 2u);
  }
}

// Every way a picture can fail to load says, on one line, the template's
// words, where (the file, or memory), and why: the system's text for a
// platform failure, the decoder's for bad data.
TEST(LoadImageTest, FailuresSayWhatWhereAndWhy) {
  const std::string opening =
      makeMessage(messages::kCreateFileFailed, "nubrik::FileStreamReader::FileStreamReader").get();
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
      {"missing", [&] { loadImageFromFile(at("missing.png")); }, opening, file("missing.png"), ""},
      {"directory", [&] { loadImageFromFile(folder.string()); }, opening,
       describeFile(folder.string()), ""},
      {"line break in the name", [&] { loadImageFromFile(at("two\nlines.png")); }, opening,
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
       [&] { PngLoader(std::make_shared<CountingReader>(png, 100), "entry 3").loadImage(); }, rows,
       "entry 3", "reading failed: Disk gone in x."},
  };
#if defined(_WIN32)
  // Held by another opener that shares it with no one.
  const HANDLE holder = CreateFileA(at("locked.png").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  cases.push_back(
      {"locked", [&] { loadImageFromFile(at("locked.png")); }, opening, file("locked.png"), ""});
#else
  ASSERT_EQ(mkfifo(at("pipe.png").c_str(), 0600), 0);
  cases.push_back({"a pipe", [&] { loadImageFromFile(at("pipe.png")); }, opening, file("pipe.png"),
                   "not a regular file"});
  cases.push_back({"a device", [] { loadImageFromFile("/dev/null"); }, opening,
                   describeFile("/dev/null"), "not a regular file"});
  chmod(at("locked.png").c_str(), 0);
  if (access(at("locked.png").c_str(), R_OK) != 0) {  // root reads it all the same
    cases.push_back({"no access", [&] { loadImageFromFile(at("locked.png")); }, opening,
                     file("locked.png"), ""});
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
  // A path that holds a NUL would open the file named by what comes before
  // it: refused, naming the whole path.
  const std::string nul = at("cut.png") + std::string(1, '\0') + "x";
  try {
    loadImageFromFile(nul);
    ADD_FAILURE() << "a path with a NUL was opened";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), "nubrik::FileStreamReader::FileStreamReader: " +
                                         describeFile(at("cut.png") + "\\x00x") +
                                         ": the path holds a NUL character");
  }
  std::filesystem::remove_all(folder);
}

// The public conformance suite, when it is beside the project.
TEST(PngLoaderTest, ConformanceSuite) {
  const char* shared = std::getenv("NUBRIK_SHARED_DIR");
  const std::filesystem::path suite = std::filesystem::path(shared ? shared : "") / "pngsuite";
  std::ifstream manifest(suite / "MANIFEST.tsv");
  if (!shared || !manifest) GTEST_SKIP() << "no conformance suite at " << suite;
  std::string line;
  std::getline(manifest, line);
  int decoded = 0, rejected = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string file, expect, colourType, depth, interlaced, trns, width, height, layout, crc;
    std::getline(fields, file, '\t');
    std::getline(fields, expect, '\t');
    for (std::string* f : {&colourType, &depth, &interlaced, &trns, &width, &height, &layout, &crc})
      std::getline(fields, *f, '\t');
    SCOPED_TRACE(file);
    if (expect == "decode") {
      const auto image = loadImageFromFile((suite / file).string());
      const char* names[] = {"Grey", "Rgb", "GreyAlpha", "Rgba"};
      EXPECT_EQ(names[static_cast<int>(image->getPixelFormat())], layout);
      EXPECT_EQ(std::to_string(image->getWidth()), width);
      EXPECT_EQ(std::to_string(image->getHeight()), height);
      // The pitch is the packed row size, so the bytes are the rows packed.
      const uLong pixelsCrc = crc32(0, image->lockConst(), image->getPitch() * image->getHeight());
      EXPECT_EQ(pixelsCrc, std::stoul(crc, nullptr, 16));
      ++decoded;
    } else {
      EXPECT_THROW(loadImageFromFile((suite / file).string()), IoException);
      ++rejected;
    }
  }
  EXPECT_GT(decoded, 100);
  EXPECT_GT(rejected, 10);
}

}  // namespace
}  // namespace nubrik
