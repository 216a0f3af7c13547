#include "nubrik/window/input_queue.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "nubrik/base/callback_slot.h"

namespace nubrik {

class InputQueue::ListenerSlot : public CallbackSlot<std::function<void()>> {};

InputQueue::InputQueue(size_t capacity)
    : capacity_(capacity), listener_(std::make_unique<ListenerSlot>()) {
  if (capacity == 0) throw std::invalid_argument("an InputQueue needs room for one event");
}

InputQueue::~InputQueue() = default;

void InputQueue::push(const InputEvent& event) {
  {
    std::lock_guard lock(lock_);
    const auto key = static_cast<size_t>(event.key);
    const auto button = static_cast<size_t>(event.button);
    switch (event.type) {
      case InputEventType::KeyDown:
        if (key != 0 && key < kKeyCount) keys_.set(key);
        break;
      case InputEventType::KeyUp:
        if (key != 0 && key < kKeyCount) keys_.reset(key);
        break;
      case InputEventType::ButtonDown:
      case InputEventType::ButtonUp:
        if (button < kPointerButtonCount) {
          buttons_.set(button, event.type == InputEventType::ButtonDown);
        }
        pointer_ = Point{event.x, event.y};
        break;
      case InputEventType::Motion:
        pointer_ = Point{event.x, event.y};
        break;
      case InputEventType::Enter:
        inside_ = true;
        break;
      case InputEventType::Leave:
        inside_ = false;
        break;
      case InputEventType::FocusGained:
        focused_ = true;
        break;
      case InputEventType::FocusLost:
        focused_ = false;
        for (size_t k = 1; k < kKeyCount; ++k) {
          if (!keys_.test(k)) continue;
          keys_.reset(k);
          InputEvent release = InputEvent::keyUp(static_cast<Key>(k));
          release.time = event.time;
          queue(release);
        }
        break;
      default:
        break;
    }
    updateGamepads(event);
    queue(event);
  }
  listener_->call([](const std::function<void()>& listener, uint64_t) { listener(); });
}

void InputQueue::queue(const InputEvent& event) {
  if (events_.size() >= capacity_) {
    events_.pop_front();
    ++dropped_;
  }
  events_.push_back(event);
}

void InputQueue::setListener(std::function<void()> listener) {
  if (listener) {
    listener_->set(std::move(listener));
  } else {
    listener_->clear();
  }
}

bool InputQueue::poll(InputEvent& event) {
  std::lock_guard lock(lock_);
  if (events_.empty()) return false;
  event = events_.front();
  events_.pop_front();
  return true;
}

size_t InputQueue::size() const {
  std::lock_guard lock(lock_);
  return events_.size();
}

uint64_t InputQueue::getDroppedCount() const {
  std::lock_guard lock(lock_);
  return dropped_;
}

bool InputQueue::isKeyDown(Key key) const {
  const auto index = static_cast<size_t>(key);
  std::lock_guard lock(lock_);
  return index < kKeyCount && keys_.test(index);
}

bool InputQueue::isButtonDown(PointerButton button) const {
  const auto index = static_cast<size_t>(button);
  std::lock_guard lock(lock_);
  return index < kPointerButtonCount && buttons_.test(index);
}

Point InputQueue::getPointerPosition() const {
  std::lock_guard lock(lock_);
  return pointer_;
}

bool InputQueue::isPointerInside() const {
  std::lock_guard lock(lock_);
  return inside_;
}

bool InputQueue::hasFocus() const {
  std::lock_guard lock(lock_);
  return focused_;
}

void InputQueue::updateGamepads(const InputEvent& event) {
  auto found = std::find_if(gamepads_.begin(), gamepads_.end(),
                            [&](const Gamepad& g) { return g.id == event.gamepad; });
  const auto button = static_cast<size_t>(event.gamepadButton);
  const auto axis = static_cast<size_t>(event.gamepadAxis);
  switch (event.type) {
    case InputEventType::GamepadAdded:
      if (found == gamepads_.end() && gamepads_.size() < kMaxGamepads) {
        gamepads_.push_back(Gamepad{event.gamepad, event.gamepadName, {}, {}});
      }
      break;
    case InputEventType::GamepadRemoved:
      if (found == gamepads_.end()) break;
      for (size_t b = 0; b < kGamepadButtonCount; ++b) {
        if (!found->buttons.test(b)) continue;
        InputEvent release =
            InputEvent::gamepadButtonUp(event.gamepad, static_cast<GamepadButton>(b));
        release.time = event.time;
        queue(release);
      }
      gamepads_.erase(found);
      break;
    case InputEventType::GamepadButtonDown:
    case InputEventType::GamepadButtonUp:
      if (found != gamepads_.end() && button < kGamepadButtonCount) {
        found->buttons.set(button, event.type == InputEventType::GamepadButtonDown);
      }
      break;
    case InputEventType::GamepadAxisMoved:
      if (found != gamepads_.end() && axis < kGamepadAxisCount) found->axes[axis] = event.value;
      break;
    default:
      break;
  }
}

const InputQueue::Gamepad* InputQueue::findGamepad(int32_t id) const {
  for (const Gamepad& g : gamepads_) {
    if (g.id == id) return &g;
  }
  return nullptr;
}

std::vector<int32_t> InputQueue::getGamepads() const {
  std::lock_guard lock(lock_);
  std::vector<int32_t> ids;
  for (const Gamepad& g : gamepads_) ids.push_back(g.id);
  return ids;
}

std::string InputQueue::getGamepadName(int32_t gamepad) const {
  std::lock_guard lock(lock_);
  const Gamepad* g = findGamepad(gamepad);
  return g ? g->name : std::string();
}

bool InputQueue::isGamepadButtonDown(int32_t gamepad, GamepadButton button) const {
  const auto index = static_cast<size_t>(button);
  std::lock_guard lock(lock_);
  const Gamepad* g = findGamepad(gamepad);
  return g && index < kGamepadButtonCount && g->buttons.test(index);
}

float InputQueue::getGamepadAxis(int32_t gamepad, GamepadAxis axis) const {
  const auto index = static_cast<size_t>(axis);
  std::lock_guard lock(lock_);
  const Gamepad* g = findGamepad(gamepad);
  return g && index < kGamepadAxisCount ? g->axes[index] : 0.0f;
}

}  // namespace nubrik
