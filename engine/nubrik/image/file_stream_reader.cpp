#include "nubrik/image/file_stream_reader.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"
#include "nubrik/base/platform/platform.h"

namespace nubrik {

namespace {

std::string checkedPath(const std::string& path) {
  refuseNulInPath(path, "nubrik::FileStreamReader::FileStreamReader");
  return describeFile(path);
}

}  // namespace

FileStreamReader::FileStreamReader(const std::string& path)
    : where_(checkedPath(path)), fileHandle_(platform::openFileForReading(path.c_str())) {
  if (fileHandle_ == nullptr) {
    throwPlatformError(messages::kCreateFileFailed, "nubrik::FileStreamReader::FileStreamReader",
                       where_);
  }
}

FileStreamReader::~FileStreamReader() { platform::closeFile(fileHandle_); }

uint32_t FileStreamReader::readImpl(uint8_t* buffer, uint32_t count) {
  uint32_t total = std::min(count, buffered());
  if (total > 0) std::memcpy(buffer, buffer_.get() + bufferStart_, total);
  bufferStart_ += total;
  while (total < count) {
    const uint32_t remaining = count - total;
    // Large reads bypass the buffer; small ones refill it.
    const bool direct = remaining >= kBufferSize;
    if (!direct && !buffer_) buffer_ = std::make_unique<uint8_t[]>(kBufferSize);
    uint8_t* target = direct ? buffer + total : buffer_.get();
    uint32_t got = 0;
    if (!platform::readFile(fileHandle_, target, direct ? remaining : kBufferSize, &got)) {
      throwPlatformError(messages::kReadFileFailed, "nubrik::FileStreamReader::readImpl", where_);
    }
    // Nothing more came: the end of the file, or a position past it. (A
    // regular file reads short only at its end.)
    if (got == 0) break;
    if (direct) {
      total += got;
    } else {
      const uint32_t n = std::min(got, remaining);
      std::memcpy(buffer + total, buffer_.get(), n);
      total += n;
      bufferStart_ = n;
      bufferEnd_ = got;
    }
  }
  return total;
}

uint32_t FileStreamReader::skipImpl(uint32_t count) {
  const int64_t before = getCursorImpl();
  seekImpl(count, SeekOrigin::Current);
  const int64_t after = getCursorImpl();
  if (after < before) {
    throw IoException(makeMessage(messages::kInvalidSeekPosition,
                                  "nubrik::FileStreamReader::skipImpl", where_,
                                  "skipping " + std::to_string(count) + " bytes moved back from " +
                                      std::to_string(before) + " to " + std::to_string(after)));
  }
  return static_cast<uint32_t>(after - before);
}

bool FileStreamReader::isEndOfStreamImpl() { return getCursorImpl() == getLengthImpl(); }

void FileStreamReader::seekImpl(int64_t offset, SeekOrigin origin) {
  const platform::SeekMethod method = origin == SeekOrigin::Begin ? platform::SeekMethod::Begin
                                      : origin == SeekOrigin::End ? platform::SeekMethod::End
                                                                  : platform::SeekMethod::Current;
  // The platform's position is ahead of ours by what is buffered.
  int64_t platformOffset = offset;
  if (method == platform::SeekMethod::Current &&
      __builtin_sub_overflow(offset, buffered(), &platformOffset)) {
    throw IoException(makeMessage(
        messages::kInvalidSeekPosition, "nubrik::FileStreamReader::seekImpl", where_,
        "offset " + std::to_string(offset) + " from the current position is out of range"));
  }
  if (!platform::seekFile(fileHandle_, platformOffset, method, nullptr)) {
    throwPlatformError(messages::kSetFilePointerFailed, "nubrik::FileStreamReader::seekImpl",
                       where_);
  }
  bufferStart_ = bufferEnd_ = 0;
}

int64_t FileStreamReader::getCursorImpl() {
  int64_t position = 0;
  if (!platform::seekFile(fileHandle_, 0, platform::SeekMethod::Current, &position)) {
    throwPlatformError(messages::kSetFilePointerFailed, "nubrik::FileStreamReader::getCursorImpl",
                       where_);
  }
  return position - buffered();
}

int64_t FileStreamReader::getLengthImpl() {
  int64_t length = 0;
  if (!platform::fileLength(fileHandle_, &length)) {
    throwPlatformError(messages::kGetFileSizeFailed, "nubrik::FileStreamReader::getLengthImpl",
                       where_);
  }
  return length;
}

}  // namespace nubrik
