#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "nubrik/image/stream_reader.h"

namespace nubrik {

// A stream over bytes in memory, for decoding data that is already loaded
// (and for tests and fuzzing). Seeking outside the bytes throws IoException.
class MemoryStreamReader final : public IStreamReader {
 public:
  explicit MemoryStreamReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  // How messages name the bytes: memory (<size> bytes).
  std::string describe() const { return "memory (" + std::to_string(bytes_.size()) + " bytes)"; }

 protected:
  uint32_t readImpl(uint8_t* buffer, uint32_t count) override;
  uint32_t skipImpl(uint32_t count) override;
  bool isEndOfStreamImpl() override { return position_ == bytes_.size(); }
  void seekImpl(int64_t offset, SeekOrigin origin) override;
  int64_t getCursorImpl() override { return static_cast<int64_t>(position_); }
  int64_t getLengthImpl() override { return static_cast<int64_t>(bytes_.size()); }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

}  // namespace nubrik
