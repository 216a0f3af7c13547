#include "nubrik/image/memory_helper.h"

#include <new>

namespace nubrik::MemoryHelper {

std::shared_ptr<uint8_t[]> allocate(size_t size) {
  // Room to move the start to the next page boundary and past it.
  constexpr size_t kSlack = 2 * kPageSize + kPageOffset;
  size_t total = 0;
  if (__builtin_add_overflow(size, kSlack, &total) || total > kMaxAllocation) {
    throw std::bad_alloc();
  }

  std::unique_ptr<uint8_t[]> block(new uint8_t[total]);
  const uintptr_t start = reinterpret_cast<uintptr_t>(block.get());
  const uintptr_t base = (start + kPageSize - 1) & ~uintptr_t{kPageSize - 1};
  uint8_t* usable = block.get() + (base - start) + kPageOffset;

  // The deleter carries the block's address, so nothing is stored in the
  // buffer and no pointer is ever truncated. Should the handle's control
  // record fail to allocate, shared_ptr runs the deleter itself.
  uint8_t* owned = block.release();
  return std::shared_ptr<uint8_t[]>(usable, [owned](uint8_t*) { delete[] owned; });
}

}  // namespace nubrik::MemoryHelper
