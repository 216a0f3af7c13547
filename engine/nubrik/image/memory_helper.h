// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace nubrik::MemoryHelper {

// Distance of the first usable byte past a page boundary.
inline constexpr size_t kPageOffset = 4;
inline constexpr size_t kPageSize = 4096;
// Requests above this are refused with std::bad_alloc before the allocator is
// asked: no machine this runs on has a terabyte to give one image.
inline constexpr uint64_t kMaxAllocation = uint64_t{1} << 40;

// `size` usable bytes whose first byte lies 4 bytes past a 4096-byte
// boundary, in one heap block released when the last handle goes.
// Throws std::bad_alloc.
std::shared_ptr<uint8_t[]> allocate(size_t size);

}  // namespace nubrik::MemoryHelper
