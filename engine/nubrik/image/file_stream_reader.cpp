#include "nubrik/image/file_stream_reader.h"

#include "nubrik/base/exception.h"

namespace nubrik {

namespace {

[[noreturn]] void throwPlatformError(const char* format, const char* method) {
  throw Win32Exception(platform::lastError(), makeMessage(format, method));
}

}  // namespace

FileStreamReader::FileStreamReader(const std::string& path)
    : fileHandle_(platform::openFileForReading(path.c_str())) {
  if (fileHandle_ == nullptr) {
    throwPlatformError(messages::kCreateFileFailed, "nubrik::FileStreamReader::FileStreamReader");
  }
}

FileStreamReader::~FileStreamReader() { platform::closeFile(fileHandle_); }

uint32_t FileStreamReader::readImpl(uint8_t* buffer, uint32_t count) {
  uint32_t total = 0;
  while (total < count) {
    uint32_t got = 0;
    if (!platform::readFile(fileHandle_, buffer + total, count - total, &got)) {
      throwPlatformError(messages::kReadFileFailed, "nubrik::FileStreamReader::readImpl");
    }
    total += got;
    // Nothing more came: the end of the file, or a position past it.
    if (got == 0 || isEndOfStreamImpl()) break;
  }
  return total;
}

uint32_t FileStreamReader::skipImpl(uint32_t count) {
  const int64_t before = getCursorImpl();
  seekImpl(count, SeekOrigin::Current);
  const int64_t after = getCursorImpl();
  if (after < before) {
    throw IoException(
        makeMessage(messages::kInvalidSeekPosition, "nubrik::FileStreamReader::skipImpl"));
  }
  return static_cast<uint32_t>(after - before);
}

bool FileStreamReader::isEndOfStreamImpl() { return getCursorImpl() == getLengthImpl(); }

void FileStreamReader::seekImpl(int64_t offset, SeekOrigin origin) {
  const platform::SeekMethod method = origin == SeekOrigin::Begin ? platform::SeekMethod::Begin
                                      : origin == SeekOrigin::End ? platform::SeekMethod::End
                                                                  : platform::SeekMethod::Current;
  if (!platform::seekFile(fileHandle_, offset, method, nullptr)) {
    throwPlatformError(messages::kSetFilePointerFailed, "nubrik::FileStreamReader::seekImpl");
  }
}

int64_t FileStreamReader::getCursorImpl() {
  int64_t position = 0;
  if (!platform::seekFile(fileHandle_, 0, platform::SeekMethod::Current, &position)) {
    throwPlatformError(messages::kSetFilePointerFailed, "nubrik::FileStreamReader::getCursorImpl");
  }
  return position;
}

int64_t FileStreamReader::getLengthImpl() {
  int64_t length = 0;
  if (!platform::fileLength(fileHandle_, &length)) {
    throwPlatformError(messages::kGetFileSizeFailed, "nubrik::FileStreamReader::getLengthImpl");
  }
  return length;
}

}  // namespace nubrik
