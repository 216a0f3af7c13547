#include "nubrik/text/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace nubrik {
namespace {

std::u32string decodeAll(std::string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) out += decodeUtf8(text, i);
  return out;
}

std::string encode(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

TEST(Utf8Test, ScalarValuesRoundTripAndEveryBadByteIsOneReplacement) {
  std::mt19937 random(7);
  std::uniform_int_distribution<uint32_t> any(0, 0x10FFFF);
  std::u32string expected;
  std::string text;
  for (int i = 0; i < 20000; ++i) {
    char32_t c = any(random) >> (random() % 21);  // short and long forms alike
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    expected += c;
    text += encode(c);
  }
  EXPECT_EQ(decodeAll(text), expected);

  const std::u32string r(1, kReplacementCharacter);
  const struct {
    std::string bytes;
    std::u32string decoded;
  } cases[] = {
      {"\x80", r},  // stray continuation
      {"a\xFF"
       "b",
       U"a" + r + U"b"},                    // never valid
      {"\xC0\x80", r + r},                  // overlong NUL
      {"\xC1\xBF", r + r},                  // overlong
      {"\xE0\x80\x80", r + r + r},          // overlong, three bytes
      {"\xF0\x80\x80\x80", r + r + r + r},  // overlong, four bytes
      {"\xED\xA0\x80", r + r + r},          // surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xF5\x80\x80\x80", r + r + r + r},  // lead byte beyond
      {"\xE2\x82", r + r},                  // truncated at the end
      {"\xE2\x82"
       "A",
       r + r + U"A"},                       // truncated before ASCII
      {"\xF0\x9F\x98", r + r + r},          // truncated four-byte form
      {"\xED\x9F\xBF", U"\U0000D7FF"},      // last before surrogates
      {"\xF4\x8F\xBF\xBF", U"\U0010FFFF"},  // last scalar value
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decodeAll(c.bytes), c.decoded) << testing::PrintToString(c.bytes);
  }
}

}  // namespace
}  // namespace nubrik
