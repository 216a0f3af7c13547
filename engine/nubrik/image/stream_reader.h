#pragma once

#include <cstdint>
#include <stdexcept>

namespace nubrik {

enum class SeekOrigin : int32_t { Begin = 0, Current = 1, End = 2 };

// Reads and skips bytes forward. Callers use the public operations;
// implementations override the *Impl ones.
class ISequentialStreamReader {
 public:
  virtual ~ISequentialStreamReader() = default;
  // Stores up to `count` bytes; fewer only at the end of the stream.
  // `buffer` may be null only when `count` is 0 (std::invalid_argument).
  uint32_t read(uint8_t* buffer, uint32_t count) {
    if (buffer == nullptr && count != 0) {
      throw std::invalid_argument("nubrik::ISequentialStreamReader::read: buffer is null");
    }
    return readImpl(buffer, count);
  }
  uint32_t skip(uint32_t count) { return skipImpl(count); }
  bool isEndOfStream() { return isEndOfStreamImpl(); }

 protected:
  virtual uint32_t readImpl(uint8_t* buffer, uint32_t count) = 0;
  virtual uint32_t skipImpl(uint32_t count) = 0;
  virtual bool isEndOfStreamImpl() = 0;
};

// Moves and reports a 64-bit position.
class ISeekable {
 public:
  virtual ~ISeekable() = default;
  void seek(int64_t offset, SeekOrigin origin) { seekImpl(offset, origin); }
  int64_t getCursor() { return getCursorImpl(); }
  int64_t getLength() { return getLengthImpl(); }

 protected:
  virtual void seekImpl(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t getCursorImpl() = 0;
  virtual int64_t getLengthImpl() = 0;
};

class IStreamReader : public ISequentialStreamReader, public virtual ISeekable {};

}  // namespace nubrik
