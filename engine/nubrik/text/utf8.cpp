#include "nubrik/text/utf8.h"

namespace nubrik {

char32_t decodeUtf8(std::string_view text, size_t& index) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(index);
  if (lead < 0x80) {
    ++index;
    return lead;
  }
  // The length a lead byte announces, and the range its first continuation
  // byte must lie in: that range is what rules out overlong forms,
  // surrogates and values above U+10FFFF.
  size_t length = 0;
  char32_t value = 0;
  uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    ++index;
    return kReplacementCharacter;
  }
  if (text.size() - index < length) {
    ++index;
    return kReplacementCharacter;
  }
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = byte(index + i);
    if (next < low || next > high) {
      ++index;
      return kReplacementCharacter;
    }
    low = 0x80;
    high = 0xBF;
    value = (value << 6) | (next & 0x3F);
  }
  index += length;
  return value;
}

}  // namespace nubrik
