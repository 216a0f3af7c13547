// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nubrik {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point that starts at `text[index]` and advances `index`
// past it. A byte that does not start a complete, shortest-form sequence of
// a scalar value (a stray continuation byte, a truncated or overlong
// sequence, a surrogate, a value above U+10FFFF) gives U+FFFD and advances
// by that one byte, so every bad byte stands for one replacement character
// and decoding resumes right after it. `index` must be below text.size().
char32_t decodeUtf8(std::string_view text, size_t& index);

}  // namespace nubrik
