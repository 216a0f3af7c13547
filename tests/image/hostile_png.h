#pragma once

// PNG files built to be expensive: each is small, and each once cost far more
// time or memory than the picture it holds. Made on the fly, so that no
// binary file needs to be kept.

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace nubrik::hostile {

using Bytes = std::vector<uint8_t>;

inline void appendUint32(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// A chunk whose header declares `length` bytes, followed by whatever the
// caller appends.
inline void appendChunkHeader(Bytes& png, const char* type, uint32_t length) {
  appendUint32(png, length);
  png.insert(png.end(), type, type + 4);
}

inline void appendChunk(Bytes& png, const char* type, const Bytes& data) {
  appendChunkHeader(png, type, static_cast<uint32_t>(data.size()));
  png.insert(png.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  appendUint32(png, static_cast<uint32_t>(crc));
}

// The signature and a header chunk.
inline Bytes pngHeader(uint32_t width, uint32_t height, int bitDepth, int colourType,
                       bool interlaced) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  appendUint32(ihdr, width);
  appendUint32(ihdr, height);
  ihdr.insert(ihdr.end(), {static_cast<uint8_t>(bitDepth), static_cast<uint8_t>(colourType), 0, 0,
                           static_cast<uint8_t>(interlaced ? 1 : 0)});
  appendChunk(png, "IHDR", ihdr);
  return png;
}

// A chunk of `type` that declares 2^31 - 1 bytes in a file of a hundred.
inline Bytes hugeChunk(const char* type) {
  Bytes png = pngHeader(16, 16, 8, 0, false);
  appendChunkHeader(png, type, 0x7FFFFFFF);
  png.insert(png.end(), 40, 'A');
  return png;
}

// A 16 x 16 black grey picture whose image data goes on inflating to
// `surplusMiB` MiB of zeros after its last row, then ends properly.
inline Bytes surplusImageData(uint32_t surplusMiB) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  const Bytes zeros(1 << 20, 0);
  Bytes out(1 << 16);
  auto compress = [&](uInt length, int flush) {
    Bytes result;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = length;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      result.insert(result.end(), out.data(), z.next_out);
    } while (z.avail_out == 0);
    return result;
  };
  // The rows (16 of a filter byte and 16 samples), then a window of zeros;
  // from there on every MiB of zeros compresses to the same bytes.
  const Bytes start = compress(16 * 17 + 32768, Z_SYNC_FLUSH);
  const Bytes mebibyte = compress(1 << 20, Z_SYNC_FLUSH);
  const Bytes end = compress(0, Z_FINISH);
  deflateEnd(&z);

  Bytes idat = {0x78, 0xDA};
  idat.insert(idat.end(), start.begin(), start.end());
  for (uint32_t i = 1; i < surplusMiB; ++i)
    idat.insert(idat.end(), mebibyte.begin(), mebibyte.end());
  idat.insert(idat.end(), end.begin(), end.end());
  // Adler-32 of n zeros: a = 1, b = n mod 65521.
  const uint64_t total = 16 * 17 + 32768 + (uint64_t{surplusMiB} - 1) * (1 << 20);
  appendUint32(idat, static_cast<uint32_t>((total % 65521) << 16 | 1));

  Bytes png = pngHeader(16, 16, 8, 0, false);
  appendChunk(png, "IDAT", idat);
  appendChunk(png, "IEND", {});
  return png;
}

// A header for a large interlaced picture followed by image data that holds
// nothing but the stream's two header bytes.
inline Bytes interlacedWithoutData(uint32_t width, uint32_t height) {
  Bytes png = pngHeader(width, height, 8, 6, true);
  appendChunk(png, "IDAT", {0x78, 0xDA});
  appendChunk(png, "IEND", {});
  return png;
}

// Writes deflate's bit stream, least significant bit first.
class BitWriter {
 public:
  void put(uint32_t value, int bits) {
    pending_ |= uint64_t{value} << count_;
    count_ += bits;
    while (count_ >= 8) {
      bytes_.push_back(static_cast<uint8_t>(pending_));
      pending_ >>= 8;
      count_ -= 8;
    }
  }
  // A Huffman code, which deflate stores most significant bit first.
  void putCode(uint32_t code, int bits) {
    uint32_t reversed = 0;
    for (int i = 0; i < bits; ++i) reversed |= ((code >> i) & 1) << (bits - 1 - i);
    put(reversed, bits);
  }
  void align() {
    if (count_ > 0) put(0, 8 - count_);
  }
  Bytes& bytes() { return bytes_; }

 private:
  Bytes bytes_;
  uint64_t pending_ = 0;
  int count_ = 0;
};

// A 16 x 16 grey picture whose image data starts with `blocks` empty
// deflate blocks with dynamic codes, the dearest kind to read (about 12
// bytes each), before the rows.
inline Bytes emptyBlocksBeforeRows(uint32_t blocks) {
  BitWriter bits;
  bits.put(0x78, 8);
  bits.put(0xDA, 8);
  // Code length codes for 18 (repeat zero), 0 and 1; literal codes: only
  // the end of block, one bit long.
  static const int kOrder[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
  for (uint32_t b = 0; b < blocks; ++b) {
    bits.put(0, 1);   // not the last block
    bits.put(2, 2);   // dynamic codes
    bits.put(0, 5);   // 257 literal and length codes
    bits.put(0, 5);   // 1 distance code
    bits.put(14, 4);  // 18 code length codes
    for (int symbol : kOrder) bits.put(symbol == 18 ? 1 : symbol <= 1 ? 2 : 0, 3);
    bits.putCode(0, 1);  // 138 zeros
    bits.put(127, 7);
    bits.putCode(0, 1);  // 118 zeros
    bits.put(107, 7);
    bits.putCode(3, 2);  // end of block: length 1
    bits.putCode(2, 2);  // the distance code: length 0
    bits.putCode(0, 1);  // end of block
  }
  // The rows as the last, stored block.
  const uint16_t length = 16 * 17;
  bits.put(1, 1);
  bits.put(0, 2);
  bits.align();
  bits.put(length, 16);
  bits.put(static_cast<uint16_t>(~length), 16);
  for (int i = 0; i < length; ++i) bits.put(0, 8);
  Bytes idat = std::move(bits.bytes());
  appendUint32(idat, length << 16 | 1);

  Bytes png = pngHeader(16, 16, 8, 0, false);
  appendChunk(png, "IDAT", idat);
  appendChunk(png, "IEND", {});
  return png;
}

// A 16 x 16 grey picture preceded by `count` empty private chunks.
inline Bytes manyEmptyChunks(uint32_t count) {
  Bytes png = pngHeader(16, 16, 8, 0, false);
  Bytes chunk;
  appendChunk(chunk, "prVt", {});
  for (uint32_t i = 0; i < count; ++i) png.insert(png.end(), chunk.begin(), chunk.end());
  Bytes rows(16 * 17, 0);
  uLongf size = compressBound(rows.size());
  Bytes idat(size);
  compress2(idat.data(), &size, rows.data(), rows.size(), 9);
  idat.resize(size);
  appendChunk(png, "IDAT", idat);
  appendChunk(png, "IEND", {});
  return png;
}

}  // namespace nubrik::hostile
