#include "base/allocation_faults.h"

#include <cerrno>
#include <cstdlib>
#include <new>

namespace {

thread_local bool armed = false;
thread_local int countdown = 0;

}  // namespace

namespace nubrik::testing {

AllocationFault::AllocationFault(int failAt) {
  countdown = failAt;
  armed = true;
}

AllocationFault::~AllocationFault() { armed = false; }

}  // namespace nubrik::testing

namespace {

void* allocate(std::size_t size) {
  if (armed) {
    errno = EDOM;
    if (countdown-- == 0) throw std::bad_alloc();
  }
  if (void* p = std::malloc(size > 0 ? size : 1)) return p;
  throw std::bad_alloc();
}

void* allocateOrNull(std::size_t size) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

// Every plain form, so that all of them pair with the same release.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocateOrNull(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
