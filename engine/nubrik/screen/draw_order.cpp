#include "nubrik/screen/draw_order.h"

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

}  // namespace nubrik
