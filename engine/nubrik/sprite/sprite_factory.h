// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace nubrik {

// The allocator through which the engine makes its sprites. Their
// constructors take the registry and compositor they report to, which are
// the engine's own, so they are private to all but this allocator: a
// program asks its Screen for sprites.
template <typename T>
struct SpriteAllocator {
  using value_type = T;

  SpriteAllocator() = default;
  template <typename U>
  SpriteAllocator(const SpriteAllocator<U>&) {}  // NOLINT: rebinding converts implicitly

  T* allocate(size_t count) { return std::allocator<T>().allocate(count); }
  void deallocate(T* p, size_t count) { std::allocator<T>().deallocate(p, count); }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  template <typename U>
  bool operator==(const SpriteAllocator<U>&) const {
    return true;
  }
};

// A new sprite of kind `Sprite`, in one allocation with its count, as
// std::make_shared makes.
template <typename Sprite, typename... Args>
std::shared_ptr<Sprite> makeSprite(Args&&... args) {
  return std::allocate_shared<Sprite>(SpriteAllocator<Sprite>(), std::forward<Args>(args)...);
}

}  // namespace nubrik
