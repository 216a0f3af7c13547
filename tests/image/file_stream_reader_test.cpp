#include "nubrik/image/file_stream_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "nubrik/base/exception.h"
#include "nubrik/image/memory_stream_reader.h"

namespace nubrik {
namespace {

std::string writeFile(const std::string& name, const std::string& content) {
  const auto path = std::filesystem::temp_directory_path() / ("nubrik_" + name);
  std::ofstream(path, std::ios::binary) << content;
  return path.string();
}

TEST(FileStreamReaderTest, ReadsToTheEndAndStops) {
  FileStreamReader reader(writeFile("ten", "0123456789"));
  uint8_t buffer[16] = {};
  EXPECT_EQ(reader.read(buffer, 0), 0u);
  EXPECT_EQ(reader.getCursor(), 0);
  EXPECT_EQ(reader.getLength(), 10);
  EXPECT_EQ(reader.read(buffer, 16), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "0123456789");
  EXPECT_TRUE(reader.isEndOfStream());
  EXPECT_EQ(reader.read(buffer, 16), 0u);
}

TEST(FileStreamReaderTest, SeeksAndSkipsPastTheEnd) {
  FileStreamReader reader(writeFile("seek", "0123456789"));
  reader.seek(8, SeekOrigin::Begin);
  EXPECT_EQ(reader.skip(5), 5u);
  EXPECT_EQ(reader.getCursor(), 13);
  uint8_t buffer[4];
  EXPECT_EQ(reader.read(buffer, 4), 0u);  // past the end: ends, never hangs
  reader.seek(-3, SeekOrigin::End);
  EXPECT_EQ(reader.read(buffer, 4), 3u);
  reader.seek(-2, static_cast<SeekOrigin>(7));  // any other origin is Current
  EXPECT_EQ(reader.getCursor(), 8);
  EXPECT_THROW(reader.seek(-100, SeekOrigin::Begin), Win32Exception);
}

TEST(FileStreamReaderTest, EmptyFileIsAtItsEnd) {
  FileStreamReader reader(writeFile("empty", ""));
  EXPECT_TRUE(reader.isEndOfStream());
  EXPECT_EQ(reader.getLength(), 0);
}

TEST(FileStreamReaderTest, MissingFileThrowsWithTheNotFoundCode) {
  try {
    // In a folder that exists: a missing folder has a code of its own on Windows.
    FileStreamReader reader(
        (std::filesystem::temp_directory_path() / "nubrik_missing.png").string());
    FAIL();
  } catch (const Win32Exception& e) {
    EXPECT_EQ(e.errorCode(), 2u);
    EXPECT_STREQ(e.what(),
                 "CreateFileA API failed in nubrik::FileStreamReader::FileStreamReader method.");
  }
  EXPECT_THROW(FileStreamReader(std::filesystem::temp_directory_path().string()), Win32Exception);
}

TEST(MemoryStreamReaderTest, BehavesLikeAFileWithinItsBytes) {
  MemoryStreamReader reader({1, 2, 3, 4, 5});
  uint8_t buffer[8];
  EXPECT_EQ(reader.skip(2), 2u);
  EXPECT_EQ(reader.read(buffer, 8), 3u);
  EXPECT_EQ(buffer[0], 3);
  EXPECT_TRUE(reader.isEndOfStream());
  EXPECT_EQ(reader.skip(4), 0u);
  reader.seek(-5, SeekOrigin::End);
  EXPECT_EQ(reader.getCursor(), 0);
  EXPECT_THROW(reader.seek(-1, SeekOrigin::Begin), IoException);
  EXPECT_THROW(reader.seek(INT64_MAX, SeekOrigin::Current), IoException);
}

}  // namespace
}  // namespace nubrik
