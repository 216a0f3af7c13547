#include "nubrik/screen/sprite_manager.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "nubrik/base/scene_guard.h"
#include "nubrik/sprite/sprite_base.h"

namespace nubrik {

namespace {

// Room for `count` elements, growing geometrically as push_back would.
template <typename T>
void makeRoom(std::vector<T>& list, size_t count) {
  if (count > list.capacity()) list.reserve(std::max(count, 2 * list.capacity()));
}

}  // namespace

SpriteManager::~SpriteManager() {
  // Sprites that outlive the registry must not point into it.
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (RegistryLink* link = linkOf(slots_[i])) *link = RegistryLink{};
  }
}

RegistryLink* SpriteManager::linkOf(const Slot& slot) const {
  return slot.reports ? &static_cast<SpriteBase*>(slot.sprite.get())->registryLink() : nullptr;
}

void SpriteManager::addSprite(std::shared_ptr<ISprite> sprite, bool findable) {
  if (!sprite) throw std::invalid_argument("addSprite needs a sprite");
  checkScene(guard_.get());
  // Only a sprite whose reports reach this registry can be read on change.
  RegistryLink* link = nullptr;
  if (auto* base = dynamic_cast<SpriteBase*>(sprite.get()); base != nullptr) {
    if (base->registryLink().slot != RegistryLink::kUnregistered) {
      throw std::invalid_argument("addSprite: sprite " + std::to_string(sprite->getId()) +
                                  " is registered already");
    }
    if (base->reportsTo(*this)) link = &base->registryLink();
  }
  if (link == nullptr && std::find_if(silent_.begin(), silent_.end(), [&](uint32_t index) {
                           return slots_[index].sprite == sprite;
                         }) != silent_.end()) {
    throw std::invalid_argument("addSprite: sprite " + std::to_string(sprite->getId()) +
                                " is registered already");
  }

  // Everything that can fail happens before the registry changes.
  makeRoom(pending_, pending_.size() + 1);
  makeRoom(freeSlots_, slots_.size() + 1);
  if (link == nullptr) makeRoom(silent_, silent_.size() + 1);
  if (freeSlots_.empty()) slots_.resize(slots_.size() + 1);
  const uint32_t index =
      freeSlots_.empty() ? static_cast<uint32_t>(slots_.size() - 1) : freeSlots_.back();
  if (!freeSlots_.empty()) freeSlots_.pop_back();

  Slot& slot = slots_[index];
  slot.zOrder = sprite->getZOrder();
  slot.sequence = nextSequence_++;
  slot.reports = link != nullptr;
  slot.findable = findable;
  slot.sprite = std::move(sprite);
  if (link != nullptr) {
    *link = RegistryLink{guard_.get(), index, true, false};
  } else {
    silent_.push_back(index);
  }
  markPending(index);
  orderedValid_ = false;
}

bool SpriteManager::removeSprite(const std::shared_ptr<ISprite>& sprite) {
  if (!sprite) return false;
  checkScene(guard_.get());
  if (auto* base = dynamic_cast<SpriteBase*>(sprite.get()); base != nullptr) {
    const uint32_t index = base->registryLink().slot;
    if (index < slots_.size() && slots_[index].sprite == sprite) {
      free(index);
      return true;
    }
  }
  // A sprite that does not report is found among the few of its kind.
  for (size_t i = 0; i < silent_.size(); ++i) {
    if (slots_[silent_[i]].sprite == sprite) {
      const uint32_t index = silent_[i];
      silent_[i] = silent_.back();
      silent_.pop_back();
      free(index);
      return true;
    }
  }
  return false;
}

void SpriteManager::free(uint32_t index) {
  // Both have room: pending_ for the slot's removal and freeSlots_ for every
  // slot (see addSprite), so nothing below can fail.
  makeRoom(pending_, pending_.size() + 1);
  Slot& slot = slots_[index];
  if (RegistryLink* link = linkOf(slot)) *link = RegistryLink{};
  slot.reports = false;
  // The compositor drops the slot's command before the slot is used again,
  // and the slot can be found again only after it is pushed below.
  markPending(index);
  if (slot.orderPending) {
    orderPending_.erase(std::find(orderPending_.begin(), orderPending_.end(), index));
    slot.orderPending = false;
  }
  freeSlots_.push_back(index);
  // The view must not keep the sprite alive.
  ordered_.clear();
  orderedValid_ = false;
  // Last: the sprite may go with its handle.
  std::shared_ptr<ISprite> gone = std::move(slot.sprite);
}

std::shared_ptr<ISprite> SpriteManager::findSprite(int32_t id) const {
  const Slot* first = nullptr;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = slots_[i];
    if (slot.sprite && slot.findable && slot.sprite->getId() == id &&
        (first == nullptr ||
         OrderKey{slot.zOrder, slot.sequence} < OrderKey{first->zOrder, first->sequence})) {
      first = &slot;
    }
  }
  return first != nullptr ? first->sprite : nullptr;
}

void SpriteManager::markOrderDirty() {
  checkScene(guard_.get());
  allOrderDirty_ = true;
}

void SpriteManager::spriteChanged(RegistryLink& link) {
  // Before the registry is read: it may be changing under a frame.
  checkScene(guard_.get());
  // A link from another registry's sprite is not ours to record.
  if (link.slot >= slots_.size() || linkOf(slots_[link.slot]) != &link) return;
  markPending(link.slot);
  link.changeReported = true;
}

void SpriteManager::spriteRedrawn(RegistryLink& link) {
  checkScene(guard_.get());
  if (link.slot >= slots_.size() || linkOf(slots_[link.slot]) != &link) return;
  markPending(link.slot);
  slots_[link.slot].redraw = true;
  link.changeReported = true;
  link.redrawReported = true;
}

void SpriteManager::spriteOrderChanged(RegistryLink& link) {
  checkScene(guard_.get());
  if (link.slot >= slots_.size() || linkOf(slots_[link.slot]) != &link) return;
  Slot& slot = slots_[link.slot];
  if (!slot.orderPending) {
    orderPending_.push_back(link.slot);
    slot.orderPending = true;
  }
  link.orderReported = true;
}

void SpriteManager::markPending(uint32_t index) {
  Slot& slot = slots_[index];
  if (slot.pending) return;
  pending_.push_back(index);
  slot.pending = true;
}

void SpriteManager::applyZOrder(uint32_t index) {
  Slot& slot = slots_[index];
  if (!slot.sprite) return;
  const int32_t zOrder = slot.sprite->getZOrder();
  if (zOrder == slot.zOrder) return;
  markPending(index);
  slot.zOrder = zOrder;
  orderedValid_ = false;
}

void SpriteManager::sortIfDirty() {
  if (allOrderDirty_) {
    for (uint32_t index = 0; index < slots_.size(); ++index) applyZOrder(index);
    allOrderDirty_ = false;
  } else {
    for (uint32_t index : orderPending_) applyZOrder(index);
  }
  for (uint32_t index : orderPending_) {
    slots_[index].orderPending = false;
    if (RegistryLink* link = linkOf(slots_[index])) link->orderReported = false;
  }
  orderPending_.clear();
}

void SpriteManager::takePending(size_t count) {
  for (size_t i = 0; i < count; ++i) {
    Slot& slot = slots_[pending_[i]];
    slot.pending = false;
    slot.redraw = false;
    if (RegistryLink* link = linkOf(slot)) {
      link->changeReported = false;
      link->redrawReported = false;
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(count));
}

std::vector<SpriteManager::SpriteEntry>::const_iterator SpriteManager::begin() const {
  if (!orderedValid_) {
    std::vector<const Slot*> order;
    order.reserve(size());
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].sprite) order.push_back(&slots_[i]);
    }
    std::sort(order.begin(), order.end(), [](const Slot* a, const Slot* b) {
      return OrderKey{a->zOrder, a->sequence} < OrderKey{b->zOrder, b->sequence};
    });
    std::vector<SpriteEntry> entries;
    entries.reserve(order.size());
    for (const Slot* slot : order) {
      entries.push_back({slot->sprite->getId(), slot->sprite, slot->sequence});
    }
    ordered_ = std::move(entries);
    orderedValid_ = true;
  }
  return ordered_.cbegin();
}

std::vector<SpriteManager::SpriteEntry>::const_iterator SpriteManager::end() const {
  begin();
  return ordered_.cend();
}

}  // namespace nubrik
