// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace nubrik {

// An array that grows a page at a time: elements never move, and what is
// allocated beyond the size is less than one page, where a vector that
// doubles may hold twice what it needs.
template <typename T, size_t kPageSize = 4096>
class PagedArray {
 public:
  size_t size() const { return size_; }
  T& operator[](size_t i) { return pages_[i / kPageSize][i % kPageSize]; }
  const T& operator[](size_t i) const { return pages_[i / kPageSize][i % kPageSize]; }

  // New elements are value-initialised. Throws std::bad_alloc, leaving the
  // array as it was.
  void resize(size_t size) {
    const size_t pages = (size + kPageSize - 1) / kPageSize;
    pages_.reserve(pages);
    while (pages_.size() < pages) pages_.push_back(std::make_unique<T[]>(kPageSize));
    for (size_t i = size; i < size_; ++i) (*this)[i] = T{};
    size_ = size;
  }
  void clear() {
    pages_.clear();
    size_ = 0;
  }

 private:
  std::vector<std::unique_ptr<T[]>> pages_;
  size_t size_ = 0;
};

}  // namespace nubrik
