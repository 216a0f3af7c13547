// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>

namespace nubrik {

// Rows at least this long are streamed; shorter ones are copied through the
// cache, where streaming part of a cache line costs more than it saves.
inline constexpr size_t kMinStreamedRowBytes = 512;

// Copies `rows` rows of `rowBytes` bytes, like memcpy row by row, but
// writes the whole cache lines of long rows around the cache: memory the
// copy is the last to touch for a while (a window's picture) is then not
// read in first, which halves the traffic where several threads fill such
// memory at once. The rows must not overlap.
void copyRowsStreamed(uint8_t* target, size_t targetPitch, const uint8_t* source,
                      size_t sourcePitch, size_t rowBytes, uint32_t rows);

}  // namespace nubrik
