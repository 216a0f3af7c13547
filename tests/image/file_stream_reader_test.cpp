#include "nubrik/image/file_stream_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "nubrik/base/error_message.h"
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
    EXPECT_TRUE(std::string(e.what()).starts_with(
        std::string(
            makeMessage(messages::kCreateFileFailed, "nubrik::FileStreamReader::FileStreamReader")
                .get()) +
        " "))
        << e.what();
  }
  EXPECT_THROW(FileStreamReader(std::filesystem::temp_directory_path().string()), Win32Exception);
}

// Reads, skips and seeks in any order, across the read-ahead buffer's edges,
// see what the same bytes in memory give.
TEST(FileStreamReaderTest, BehavesLikeTheSameBytesInMemory) {
  std::mt19937 random(7);
  std::string content(3 * FileStreamReader::kBufferSize + 123, '\0');
  for (char& c : content) c = static_cast<char>(random());
  FileStreamReader file(writeFile("random", content));
  MemoryStreamReader memory(std::vector<uint8_t>(content.begin(), content.end()));
  const int64_t length = static_cast<int64_t>(content.size());
  std::vector<uint8_t> fromFile(2 * FileStreamReader::kBufferSize), fromMemory(fromFile.size());
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    const int64_t remaining = length - memory.getCursor();
    switch (random() % 4) {
      case 0:
      case 1: {
        // Mostly small reads, as a decoder makes; now and then a large one.
        const uint32_t count = random() % 8 ? random() % 100 : random() % fromFile.size();
        ASSERT_EQ(file.read(fromFile.data(), count), memory.read(fromMemory.data(), count));
        ASSERT_EQ(std::memcmp(fromFile.data(), fromMemory.data(), count), 0);
        break;
      }
      case 2: {
        const auto count = static_cast<uint32_t>(random() % (remaining + 1));
        ASSERT_EQ(file.skip(count), memory.skip(count));
        break;
      }
      default: {
        const int64_t target = random() % (length + 1);
        const auto origin = static_cast<SeekOrigin>(random() % 3);
        const int64_t offset = origin == SeekOrigin::Begin ? target
                               : origin == SeekOrigin::End ? target - length
                                                           : target - memory.getCursor();
        file.seek(offset, origin);
        memory.seek(offset, origin);
        break;
      }
    }
    ASSERT_EQ(file.getCursor(), memory.getCursor());
    ASSERT_EQ(file.isEndOfStream(), memory.isEndOfStream());
  }
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
  EXPECT_EQ(reader.read(nullptr, 0), 0u);
  EXPECT_THROW(reader.read(nullptr, 1), std::invalid_argument);
}

}  // namespace
}  // namespace nubrik
