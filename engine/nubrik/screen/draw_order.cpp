#include "nubrik/screen/draw_order.h"

#include <algorithm>

namespace nubrik {

void DrawOrder::note(uint32_t slot) noexcept {
  if (rebuild_) return;
  if (noted_.size() >= kMaxNoted) {
    reset();
    return;
  }
  try {
    noted_.push_back(slot);
  } catch (...) {
    reset();
  }
}

void DrawOrder::place(const PagedArray<OrderKey>& keys, const std::vector<uint32_t>& added) {
  const auto byKey = [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; };
  if (slots_.empty()) {
    slots_ = added;
    std::sort(slots_.begin(), slots_.end(), byKey);
    return;
  }
  // The noted slots leave wherever they were (their old keys are gone), and
  // those still listed come back where their keys place them.
  std::vector<uint32_t> noted = noted_;
  std::sort(noted.begin(), noted.end());
  slots_.erase(std::remove_if(slots_.begin(), slots_.end(),
                              [&](uint32_t slot) {
                                return std::binary_search(noted.begin(), noted.end(), slot);
                              }),
               slots_.end());
  slots_.reserve(slots_.size() + added.size());
  std::vector<uint32_t> sorted = added;
  std::sort(sorted.begin(), sorted.end(), byKey);
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  // Merged in one pass: both lists are in drawing order.
  const size_t middle = slots_.size();
  slots_.insert(slots_.end(), sorted.begin(), sorted.end());
  std::inplace_merge(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(middle),
                     slots_.end(), byKey);
}

}  // namespace nubrik
