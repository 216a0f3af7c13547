#include "nubrik/image/memory_stream_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "nubrik/base/error_message.h"
#include "nubrik/base/exception.h"

namespace nubrik {

uint32_t MemoryStreamReader::readImpl(uint8_t* buffer, uint32_t count) {
  const size_t available = bytes_.size() - position_;
  const size_t n = std::min<size_t>(count, available);
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return static_cast<uint32_t>(n);
}

uint32_t MemoryStreamReader::skipImpl(uint32_t count) {
  const size_t n = std::min<size_t>(count, bytes_.size() - position_);
  position_ += n;
  return static_cast<uint32_t>(n);
}

void MemoryStreamReader::seekImpl(int64_t offset, SeekOrigin origin) {
  const int64_t base = origin == SeekOrigin::Begin ? 0
                       : origin == SeekOrigin::End ? static_cast<int64_t>(bytes_.size())
                                                   : static_cast<int64_t>(position_);
  int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0 ||
      target > static_cast<int64_t>(bytes_.size())) {
    const std::string from = origin == SeekOrigin::Begin ? std::string("the start")
                             : origin == SeekOrigin::End ? std::string("the end")
                                                         : "position " + std::to_string(position_);
    throw IoException(makeMessage(
        messages::kInvalidSeekPosition, "nubrik::MemoryStreamReader::seekImpl", describe(),
        "offset " + std::to_string(offset) + " from " + from + " is outside the bytes"));
  }
  position_ = static_cast<size_t>(target);
}

}  // namespace nubrik
