#pragma once

#include <string>

#include "nubrik/base/platform/platform.h"
#include "nubrik/image/stream_reader.h"

namespace nubrik {

// A stream over a file opened read-only. Unbuffered: every read goes to the
// platform. Platform failures throw Win32Exception.
class FileStreamReader final : public IStreamReader {
 public:
  explicit FileStreamReader(const std::string& path);
  ~FileStreamReader() override;
  FileStreamReader(const FileStreamReader&) = delete;
  FileStreamReader& operator=(const FileStreamReader&) = delete;

 protected:
  uint32_t readImpl(uint8_t* buffer, uint32_t count) override;
  uint32_t skipImpl(uint32_t count) override;
  bool isEndOfStreamImpl() override;
  void seekImpl(int64_t offset, SeekOrigin origin) override;
  int64_t getCursorImpl() override;
  int64_t getLengthImpl() override;

 private:
  platform::FileObject* fileHandle_ = nullptr;
};

}  // namespace nubrik
