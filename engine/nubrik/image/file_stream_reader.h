#pragma once

#include <memory>
#include <string>

#include "nubrik/image/stream_reader.h"

namespace nubrik {

namespace platform {
struct FileObject;
}  // namespace platform

// A stream over a regular file opened read-only. Small reads are served from
// a read-ahead buffer, so that a file of many tiny chunks costs one system
// call per kBufferSize bytes rather than one per chunk; larger reads go
// straight to the platform. Platform failures throw Win32Exception; every
// message names the file and gives the system's reason.
class FileStreamReader final : public IStreamReader {
 public:
  // Throws Win32Exception when the file cannot be opened (missing, not a
  // regular file, no access), and std::invalid_argument when `path` holds a
  // NUL character, which would make the platform open a different file.
  explicit FileStreamReader(const std::string& path);
  ~FileStreamReader() override;
  FileStreamReader(const FileStreamReader&) = delete;
  FileStreamReader& operator=(const FileStreamReader&) = delete;

  // How messages name the file: file "<path>".
  const std::string& describe() const { return where_; }

 protected:
  uint32_t readImpl(uint8_t* buffer, uint32_t count) override;
  uint32_t skipImpl(uint32_t count) override;
  bool isEndOfStreamImpl() override;
  void seekImpl(int64_t offset, SeekOrigin origin) override;
  int64_t getCursorImpl() override;
  int64_t getLengthImpl() override;

 public:
  static constexpr uint32_t kBufferSize = 64 * 1024;

 private:
  uint32_t buffered() const { return bufferEnd_ - bufferStart_; }

  std::string where_;
  platform::FileObject* fileHandle_ = nullptr;
  // Bytes read from the file but not yet by the caller: [start, end). The
  // caller's position is the platform's minus buffered().
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t bufferStart_ = 0;
  uint32_t bufferEnd_ = 0;
};

}  // namespace nubrik
