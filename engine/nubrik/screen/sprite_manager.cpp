#include "nubrik/screen/sprite_manager.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace nubrik {

void SpriteManager::addSprite(std::shared_ptr<ISprite> sprite) {
  if (!sprite) throw std::invalid_argument("addSprite needs a sprite");
  const int32_t id = sprite->getId();
  entries_.push_back(SpriteEntry{id, std::move(sprite), nextSequence_});
  ++nextSequence_;
  orderDirty_ = true;
}

bool SpriteManager::removeSprite(const std::shared_ptr<ISprite>& sprite) {
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const SpriteEntry& entry) { return entry.sprite == sprite; });
  if (found == entries_.end()) return false;
  // Erasing keeps the others in their order.
  entries_.erase(found);
  return true;
}

std::shared_ptr<ISprite> SpriteManager::findSprite(int32_t id) const {
  for (const SpriteEntry& entry : entries_) {
    if (entry.id == id) return entry.sprite;
  }
  return nullptr;
}

void SpriteManager::sortIfDirty() {
  if (!orderDirty_) return;
  std::sort(entries_.begin(), entries_.end(), [](const SpriteEntry& a, const SpriteEntry& b) {
    const int32_t za = a.sprite->getZOrder(), zb = b.sprite->getZOrder();
    return za != zb ? za < zb : a.sequence < b.sequence;
  });
  orderDirty_ = false;
}

}  // namespace nubrik
