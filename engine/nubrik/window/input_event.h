#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nubrik {

// A key by its place on the keyboard, whatever the layout: Key::A is the key
// where A is on a US keyboard (Q on a French one). What the layout prints on
// the key comes with each key event (InputEvent::label).
//
// Every name here is free of the macros and types of Xlib and <windows.h>,
// so that a program may include both beside this header.
// clang-format off
enum class Key : uint16_t {
  Unknown,
  A, B, C, D, E, F, G, H, I, J, K, L, M, N, O, P, Q, R, S, T, U, V, W, X, Y, Z,
  Digit0, Digit1, Digit2, Digit3, Digit4, Digit5, Digit6, Digit7, Digit8, Digit9,
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
  F13, F14, F15, F16, F17, F18, F19, F20, F21, F22, F23, F24,
  Escape, Enter, Tab, Backspace, Space,
  Insert, Delete, Home, End, PageUp, PageDown,
  Left, Right, Up, Down,
  Minus, Equal, LeftBracket, RightBracket, Backslash, Semicolon, Apostrophe, Grave,
  Comma, Period, Slash,
  IntlBackslash,  // the key beside the left Shift on ISO keyboards
  CapsLock, ScrollLock, NumLock, PrintScreen, Pause, Menu,
  Keypad0, Keypad1, Keypad2, Keypad3, Keypad4, Keypad5, Keypad6, Keypad7, Keypad8, Keypad9,
  KeypadDecimal, KeypadDivide, KeypadMultiply, KeypadSubtract, KeypadAdd, KeypadEnter,
  KeypadEqual,
  LeftShift, LeftControl, LeftAlt, LeftSuper,
  RightShift, RightControl, RightAlt, RightSuper,
};
// clang-format on
inline constexpr size_t kKeyCount = static_cast<size_t>(Key::RightSuper) + 1;

// The key's name as written above ("Left", "A", "F1", "Digit1"); "Unknown"
// for a key this list does not name.
std::string_view keyName(Key key);

enum class PointerButton : uint8_t { Left, Middle, Right, X1, X2 };
inline constexpr size_t kPointerButtonCount = 5;
// "left", "middle", "right", "x1", "x2".
std::string_view pointerButtonName(PointerButton button);

// Modifier flags, or-ed together in InputEvent::mods.
enum class Modifier : uint8_t {
  Shift = 1,
  Control = 2,
  Alt = 4,
  Super = 8,
  CapsLock = 16,  // on, not held
  NumLock = 32,   // on, not held
};
inline constexpr uint8_t operator|(Modifier a, Modifier b) {
  return static_cast<uint8_t>(static_cast<uint8_t>(a) | static_cast<uint8_t>(b));
}
inline constexpr bool hasModifier(uint8_t mods, Modifier modifier) {
  return (mods & static_cast<uint8_t>(modifier)) != 0;
}
inline constexpr Modifier kModifiers[] = {Modifier::Shift, Modifier::Control,  Modifier::Alt,
                                          Modifier::Super, Modifier::CapsLock, Modifier::NumLock};
// "shift", "control", "alt", "super", "caps_lock", "num_lock".
std::string_view modifierName(Modifier modifier);

// A gamepad's buttons and axes by their place on the standard layout (SDL's
// game controller layout, after the common console pads): A is the bottom
// face button and Y the top one, whatever is printed on them.
enum class GamepadButton : uint8_t {
  A,
  B,
  X,
  Y,
  Back,
  Guide,
  Start,
  LeftStick,
  RightStick,  // the sticks pressed in
  LeftShoulder,
  RightShoulder,
  DpadUp,
  DpadDown,
  DpadLeft,
  DpadRight,
};
inline constexpr size_t kGamepadButtonCount = 15;
// "a", "b", "x", "y", "back", "guide", "start", "left_stick", "right_stick",
// "left_shoulder", "right_shoulder", "dpad_up", "dpad_down", "dpad_left",
// "dpad_right".
std::string_view gamepadButtonName(GamepadButton button);

// Sticks from -1 to 1 (x > 0 right, y > 0 down, toward the user), triggers
// from 0 (released) to 1.
enum class GamepadAxis : uint8_t { LeftX, LeftY, RightX, RightY, LeftTrigger, RightTrigger };
inline constexpr size_t kGamepadAxisCount = 6;
// "left_x", "left_y", "right_x", "right_y", "left_trigger", "right_trigger".
std::string_view gamepadAxisName(GamepadAxis axis);

enum class InputEventType : uint8_t {
  KeyDown,
  KeyUp,
  Text,
  Motion,
  ButtonDown,
  ButtonUp,
  Wheel,
  Enter,
  Leave,
  FocusGained,
  FocusLost,
  Resize,
  Close,
  GamepadAdded,
  GamepadRemoved,
  GamepadButtonDown,
  GamepadButtonUp,
  GamepadAxisMoved,
};
// "key_down", "key_up", "text", "motion", "button_down", "button_up",
// "wheel", "enter", "leave", "focus_in", "focus_out", "resize", "close",
// "gamepad_added", "gamepad_removed", "gamepad_button_down",
// "gamepad_button_up", "gamepad_axis".
std::string_view inputEventTypeName(InputEventType type);

// One thing the user did to a window. Which fields mean something depends on
// the type; the others keep their defaults.
struct InputEvent {
  using Clock = std::chrono::steady_clock;

  InputEventType type = InputEventType::Close;
  // When the window's event loop took the event in, on the steady clock.
  Clock::time_point time{};
  // KeyDown, KeyUp: the key, whether the platform repeats a held key
  // (KeyDown only), and what the layout prints on it: the character the key
  // types without modifiers ("a", "é", "ß"), else the key's name.
  Key key = Key::Unknown;
  bool repeat = false;
  char label[16] = {};
  // Modifiers held (and locks on) when the event came: key and button
  // events.
  uint8_t mods = 0;
  // ButtonDown, ButtonUp: the button. Motion, ButtonDown, ButtonUp: where
  // the pointer is, in surface pixels from the top-left corner (outside the
  // surface while a button is held and the pointer has left).
  PointerButton button = PointerButton::Left;
  int32_t x = 0;
  int32_t y = 0;
  // Wheel: steps turned; dy > 0 away from the user, dx > 0 to the right.
  // Fractions come from fine-grained wheels and touchpads.
  float dx = 0;
  float dy = 0;
  // Resize: the new surface size.
  uint32_t width = 0;
  uint32_t height = 0;
  // Text: one character, UTF-8, terminated.
  char text[8] = {};
  // Gamepad events: which gamepad, by an identifier that no other gamepad
  // takes while the program runs (one unplugged and plugged in again gets a
  // new one). GamepadButtonDown, GamepadButtonUp: the button.
  // GamepadAxisMoved: the axis and its new value (see GamepadAxis).
  // GamepadAdded, GamepadRemoved: the gamepad's name, UTF-8, terminated
  // (cut at a character's end where longer).
  int32_t gamepad = -1;
  GamepadButton gamepadButton = GamepadButton::A;
  GamepadAxis gamepadAxis = GamepadAxis::LeftX;
  float value = 0;
  char gamepadName[64] = {};

  // Events as a window makes them, stamped with the current time.
  static InputEvent keyDown(Key key, bool repeat = false, uint8_t mods = 0,
                            std::string_view label = {});
  static InputEvent keyUp(Key key, uint8_t mods = 0, std::string_view label = {});
  // One Unicode character (code point); nothing for a surrogate or a value
  // beyond U+10FFFF (the event's text stays empty).
  static InputEvent character(uint32_t codePoint);
  static InputEvent motion(int32_t x, int32_t y);
  static InputEvent buttonDown(PointerButton button, int32_t x, int32_t y, uint8_t mods = 0);
  static InputEvent buttonUp(PointerButton button, int32_t x, int32_t y, uint8_t mods = 0);
  static InputEvent wheel(float dx, float dy);
  static InputEvent simple(InputEventType type);  // Enter, Leave, FocusGained, FocusLost, Close
  static InputEvent resize(uint32_t width, uint32_t height);
  static InputEvent gamepadAdded(int32_t gamepad, std::string_view name);
  static InputEvent gamepadRemoved(int32_t gamepad, std::string_view name);
  static InputEvent gamepadButtonDown(int32_t gamepad, GamepadButton button);
  static InputEvent gamepadButtonUp(int32_t gamepad, GamepadButton button);
  // `value` is clamped to the axis's range.
  static InputEvent gamepadAxisMoved(int32_t gamepad, GamepadAxis axis, float value);
};

// Writes `codePoint` as UTF-8 into `out` (at least 5 bytes) with a
// terminator; false, and an empty string, for a surrogate or a value beyond
// U+10FFFF.
bool encodeUtf8(uint32_t codePoint, char* out);

}  // namespace nubrik
