#include "nubrik/screen/sprite_manager.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace nubrik {

void SpriteManager::addSprite(std::shared_ptr<ISprite> sprite) {
  if (!sprite) throw std::invalid_argument("addSprite needs a sprite");
  const int32_t id = sprite->getId();
  entries_.push_back(SpriteEntry{id, std::move(sprite)});
  orderDirty_ = true;
}

std::shared_ptr<ISprite> SpriteManager::findSprite(int32_t id) const {
  for (const SpriteEntry& entry : entries_) {
    if (entry.id == id) return entry.sprite;
  }
  return nullptr;
}

void SpriteManager::sortIfDirty() {
  if (!orderDirty_) return;
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const SpriteEntry& a, const SpriteEntry& b) {
                     return a.sprite->getZOrder() < b.sprite->getZOrder();
                   });
  orderDirty_ = false;
}

}  // namespace nubrik
