#include "nubrik/window/input_event.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace nubrik {

namespace {

// clang-format off
constexpr std::array<std::string_view, kKeyCount> kKeyNames = {
  "Unknown",
  "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R",
  "S", "T", "U", "V", "W", "X", "Y", "Z",
  "Digit0", "Digit1", "Digit2", "Digit3", "Digit4", "Digit5", "Digit6", "Digit7", "Digit8",
  "Digit9",
  "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12",
  "F13", "F14", "F15", "F16", "F17", "F18", "F19", "F20", "F21", "F22", "F23", "F24",
  "Escape", "Enter", "Tab", "Backspace", "Space",
  "Insert", "Delete", "Home", "End", "PageUp", "PageDown",
  "Left", "Right", "Up", "Down",
  "Minus", "Equal", "LeftBracket", "RightBracket", "Backslash", "Semicolon", "Apostrophe",
  "Grave", "Comma", "Period", "Slash",
  "IntlBackslash",
  "CapsLock", "ScrollLock", "NumLock", "PrintScreen", "Pause", "Menu",
  "Keypad0", "Keypad1", "Keypad2", "Keypad3", "Keypad4", "Keypad5", "Keypad6", "Keypad7",
  "Keypad8", "Keypad9",
  "KeypadDecimal", "KeypadDivide", "KeypadMultiply", "KeypadSubtract", "KeypadAdd",
  "KeypadEnter", "KeypadEqual",
  "LeftShift", "LeftControl", "LeftAlt", "LeftSuper",
  "RightShift", "RightControl", "RightAlt", "RightSuper",
};
// clang-format on
static_assert(kKeyNames.back() == "RightSuper");

InputEvent stamped(InputEventType type) {
  InputEvent event;
  event.type = type;
  event.time = InputEvent::Clock::now();
  return event;
}

void copyLabel(std::string_view label, char (&out)[16]) {
  const size_t n = std::min(label.size(), sizeof out - 1);
  std::copy_n(label.data(), n, out);
  out[n] = '\0';
}

InputEvent keyEvent(InputEventType type, Key key, uint8_t mods, std::string_view label) {
  InputEvent event = stamped(type);
  event.key = key;
  event.mods = mods;
  copyLabel(label.empty() ? keyName(key) : label, event.label);
  return event;
}

// Cut where a UTF-8 character ends, so that what is kept stays valid.
template <size_t N>
void copyName(std::string_view name, char (&out)[N]) {
  size_t n = std::min(name.size(), N - 1);
  if (n < name.size()) {
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  }
  std::copy_n(name.data(), n, out);
  out[n] = '\0';
}

InputEvent gamepadEvent(InputEventType type, int32_t gamepad) {
  InputEvent event = stamped(type);
  event.gamepad = gamepad;
  return event;
}

InputEvent buttonEvent(InputEventType type, PointerButton button, int32_t x, int32_t y,
                       uint8_t mods) {
  InputEvent event = stamped(type);
  event.button = button;
  event.x = x;
  event.y = y;
  event.mods = mods;
  return event;
}

}  // namespace

std::string_view keyName(Key key) {
  const auto index = static_cast<size_t>(key);
  return index < kKeyNames.size() ? kKeyNames[index] : kKeyNames[0];
}

std::string_view pointerButtonName(PointerButton button) {
  constexpr std::string_view names[] = {"left", "middle", "right", "x1", "x2"};
  const auto index = static_cast<size_t>(button);
  return index < kPointerButtonCount ? names[index] : "unknown";
}

std::string_view gamepadButtonName(GamepadButton button) {
  constexpr std::string_view names[] = {
      "a",
      "b",
      "x",
      "y",
      "back",
      "guide",
      "start",
      "left_stick",
      "right_stick",
      "left_shoulder",
      "right_shoulder",
      "dpad_up",
      "dpad_down",
      "dpad_left",
      "dpad_right",
  };
  static_assert(std::size(names) == kGamepadButtonCount);
  const auto index = static_cast<size_t>(button);
  return index < kGamepadButtonCount ? names[index] : "unknown";
}

std::string_view gamepadAxisName(GamepadAxis axis) {
  constexpr std::string_view names[] = {"left_x",  "left_y",       "right_x",
                                        "right_y", "left_trigger", "right_trigger"};
  static_assert(std::size(names) == kGamepadAxisCount);
  const auto index = static_cast<size_t>(axis);
  return index < kGamepadAxisCount ? names[index] : "unknown";
}

std::string_view modifierName(Modifier modifier) {
  switch (modifier) {
    case Modifier::Shift:
      return "shift";
    case Modifier::Control:
      return "control";
    case Modifier::Alt:
      return "alt";
    case Modifier::Super:
      return "super";
    case Modifier::CapsLock:
      return "caps_lock";
    case Modifier::NumLock:
      return "num_lock";
  }
  return "unknown";
}

std::string_view inputEventTypeName(InputEventType type) {
  constexpr std::string_view names[] = {
      "key_down",
      "key_up",
      "text",
      "motion",
      "button_down",
      "button_up",
      "wheel",
      "enter",
      "leave",
      "focus_in",
      "focus_out",
      "resize",
      "close",
      "gamepad_added",
      "gamepad_removed",
      "gamepad_button_down",
      "gamepad_button_up",
      "gamepad_axis",
  };
  const auto index = static_cast<size_t>(type);
  return index < std::size(names) ? names[index] : "unknown";
}

bool encodeUtf8(uint32_t c, char* out) {
  auto* o = reinterpret_cast<unsigned char*>(out);
  if (c < 0x80) {
    o[0] = static_cast<unsigned char>(c);
    o[1] = 0;
  } else if (c < 0x800) {
    o[0] = static_cast<unsigned char>(0xC0 | c >> 6);
    o[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    o[2] = 0;
  } else if (c >= 0xD800 && c < 0xE000) {
    o[0] = 0;
    return false;
  } else if (c < 0x10000) {
    o[0] = static_cast<unsigned char>(0xE0 | c >> 12);
    o[1] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
    o[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    o[3] = 0;
  } else if (c < 0x110000) {
    o[0] = static_cast<unsigned char>(0xF0 | c >> 18);
    o[1] = static_cast<unsigned char>(0x80 | (c >> 12 & 0x3F));
    o[2] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
    o[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    o[4] = 0;
  } else {
    o[0] = 0;
    return false;
  }
  return true;
}

InputEvent InputEvent::keyDown(Key key, bool repeat, uint8_t mods, std::string_view label) {
  InputEvent event = keyEvent(InputEventType::KeyDown, key, mods, label);
  event.repeat = repeat;
  return event;
}

InputEvent InputEvent::keyUp(Key key, uint8_t mods, std::string_view label) {
  return keyEvent(InputEventType::KeyUp, key, mods, label);
}

InputEvent InputEvent::character(uint32_t codePoint) {
  InputEvent event = stamped(InputEventType::Text);
  encodeUtf8(codePoint, event.text);
  return event;
}

InputEvent InputEvent::motion(int32_t x, int32_t y) {
  InputEvent event = stamped(InputEventType::Motion);
  event.x = x;
  event.y = y;
  return event;
}

InputEvent InputEvent::buttonDown(PointerButton button, int32_t x, int32_t y, uint8_t mods) {
  return buttonEvent(InputEventType::ButtonDown, button, x, y, mods);
}

InputEvent InputEvent::buttonUp(PointerButton button, int32_t x, int32_t y, uint8_t mods) {
  return buttonEvent(InputEventType::ButtonUp, button, x, y, mods);
}

InputEvent InputEvent::wheel(float dx, float dy) {
  InputEvent event = stamped(InputEventType::Wheel);
  event.dx = dx;
  event.dy = dy;
  return event;
}

InputEvent InputEvent::simple(InputEventType type) { return stamped(type); }

InputEvent InputEvent::resize(uint32_t width, uint32_t height) {
  InputEvent event = stamped(InputEventType::Resize);
  event.width = width;
  event.height = height;
  return event;
}

InputEvent InputEvent::gamepadAdded(int32_t gamepad, std::string_view name) {
  InputEvent event = gamepadEvent(InputEventType::GamepadAdded, gamepad);
  copyName(name, event.gamepadName);
  return event;
}

InputEvent InputEvent::gamepadRemoved(int32_t gamepad, std::string_view name) {
  InputEvent event = gamepadEvent(InputEventType::GamepadRemoved, gamepad);
  copyName(name, event.gamepadName);
  return event;
}

InputEvent InputEvent::gamepadButtonDown(int32_t gamepad, GamepadButton button) {
  InputEvent event = gamepadEvent(InputEventType::GamepadButtonDown, gamepad);
  event.gamepadButton = button;
  return event;
}

InputEvent InputEvent::gamepadButtonUp(int32_t gamepad, GamepadButton button) {
  InputEvent event = gamepadEvent(InputEventType::GamepadButtonUp, gamepad);
  event.gamepadButton = button;
  return event;
}

InputEvent InputEvent::gamepadAxisMoved(int32_t gamepad, GamepadAxis axis, float value) {
  InputEvent event = gamepadEvent(InputEventType::GamepadAxisMoved, gamepad);
  event.gamepadAxis = axis;
  const bool trigger = axis == GamepadAxis::LeftTrigger || axis == GamepadAxis::RightTrigger;
  // NaN becomes the axis's rest.
  event.value = std::isnan(value) ? 0.0f : std::clamp(value, trigger ? 0.0f : -1.0f, 1.0f);
  return event;
}

}  // namespace nubrik
