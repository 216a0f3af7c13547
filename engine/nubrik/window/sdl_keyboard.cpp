#include "nubrik/window/sdl_keyboard.h"

#include <SDL.h>

namespace nubrik {

Key keyForScancode(int scancode) {
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) {
    return static_cast<Key>(static_cast<int>(Key::A) + scancode - SDL_SCANCODE_A);
  }
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) {
    return static_cast<Key>(static_cast<int>(Key::Digit1) + scancode - SDL_SCANCODE_1);
  }
  if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) {
    return static_cast<Key>(static_cast<int>(Key::F1) + scancode - SDL_SCANCODE_F1);
  }
  if (scancode >= SDL_SCANCODE_F13 && scancode <= SDL_SCANCODE_F24) {
    return static_cast<Key>(static_cast<int>(Key::F13) + scancode - SDL_SCANCODE_F13);
  }
  if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9) {
    return static_cast<Key>(static_cast<int>(Key::Keypad1) + scancode - SDL_SCANCODE_KP_1);
  }
  switch (scancode) {
    case SDL_SCANCODE_0:
      return Key::Digit0;
    case SDL_SCANCODE_RETURN:
      return Key::Enter;
    case SDL_SCANCODE_ESCAPE:
      return Key::Escape;
    case SDL_SCANCODE_BACKSPACE:
      return Key::Backspace;
    case SDL_SCANCODE_TAB:
      return Key::Tab;
    case SDL_SCANCODE_SPACE:
      return Key::Space;
    case SDL_SCANCODE_MINUS:
      return Key::Minus;
    case SDL_SCANCODE_EQUALS:
      return Key::Equal;
    case SDL_SCANCODE_LEFTBRACKET:
      return Key::LeftBracket;
    case SDL_SCANCODE_RIGHTBRACKET:
      return Key::RightBracket;
    // The ISO key left of Enter is where the ANSI backslash is.
    case SDL_SCANCODE_BACKSLASH:
    case SDL_SCANCODE_NONUSHASH:
      return Key::Backslash;
    case SDL_SCANCODE_SEMICOLON:
      return Key::Semicolon;
    case SDL_SCANCODE_APOSTROPHE:
      return Key::Apostrophe;
    case SDL_SCANCODE_GRAVE:
      return Key::Grave;
    case SDL_SCANCODE_COMMA:
      return Key::Comma;
    case SDL_SCANCODE_PERIOD:
      return Key::Period;
    case SDL_SCANCODE_SLASH:
      return Key::Slash;
    case SDL_SCANCODE_NONUSBACKSLASH:
      return Key::IntlBackslash;
    case SDL_SCANCODE_CAPSLOCK:
      return Key::CapsLock;
    case SDL_SCANCODE_PRINTSCREEN:
      return Key::PrintScreen;
    case SDL_SCANCODE_SCROLLLOCK:
      return Key::ScrollLock;
    case SDL_SCANCODE_PAUSE:
      return Key::Pause;
    case SDL_SCANCODE_INSERT:
      return Key::Insert;
    case SDL_SCANCODE_HOME:
      return Key::Home;
    case SDL_SCANCODE_PAGEUP:
      return Key::PageUp;
    case SDL_SCANCODE_DELETE:
      return Key::Delete;
    case SDL_SCANCODE_END:
      return Key::End;
    case SDL_SCANCODE_PAGEDOWN:
      return Key::PageDown;
    case SDL_SCANCODE_RIGHT:
      return Key::Right;
    case SDL_SCANCODE_LEFT:
      return Key::Left;
    case SDL_SCANCODE_DOWN:
      return Key::Down;
    case SDL_SCANCODE_UP:
      return Key::Up;
    case SDL_SCANCODE_NUMLOCKCLEAR:
      return Key::NumLock;
    case SDL_SCANCODE_KP_DIVIDE:
      return Key::KeypadDivide;
    case SDL_SCANCODE_KP_MULTIPLY:
      return Key::KeypadMultiply;
    case SDL_SCANCODE_KP_MINUS:
      return Key::KeypadSubtract;
    case SDL_SCANCODE_KP_PLUS:
      return Key::KeypadAdd;
    case SDL_SCANCODE_KP_ENTER:
      return Key::KeypadEnter;
    case SDL_SCANCODE_KP_0:
      return Key::Keypad0;
    case SDL_SCANCODE_KP_PERIOD:
      return Key::KeypadDecimal;
    case SDL_SCANCODE_KP_EQUALS:
      return Key::KeypadEqual;
    case SDL_SCANCODE_APPLICATION:
    case SDL_SCANCODE_MENU:
      return Key::Menu;
    case SDL_SCANCODE_LCTRL:
      return Key::LeftControl;
    case SDL_SCANCODE_LSHIFT:
      return Key::LeftShift;
    case SDL_SCANCODE_LALT:
      return Key::LeftAlt;
    case SDL_SCANCODE_LGUI:
      return Key::LeftSuper;
    case SDL_SCANCODE_RCTRL:
      return Key::RightControl;
    case SDL_SCANCODE_RSHIFT:
      return Key::RightShift;
    case SDL_SCANCODE_RALT:
      return Key::RightAlt;
    case SDL_SCANCODE_RGUI:
      return Key::RightSuper;
    default:
      return Key::Unknown;
  }
}

std::string labelForScancode(int scancode, Key key) {
  const SDL_Keycode keycode = SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(scancode));
  // Printable keys' codes are the characters they type; the others carry
  // SDLK_SCANCODE_MASK.
  const auto c = static_cast<uint32_t>(keycode);
  if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0) && (c & SDLK_SCANCODE_MASK) == 0) {
    char text[8];
    if (encodeUtf8(c, text)) return text;
  }
  return std::string(keyName(key));
}

uint8_t modifiersFromSdl(uint32_t sdlMods) {
  uint8_t mods = 0;
  if (sdlMods & KMOD_SHIFT) mods |= static_cast<uint8_t>(Modifier::Shift);
  if (sdlMods & KMOD_CTRL) mods |= static_cast<uint8_t>(Modifier::Control);
  if (sdlMods & KMOD_ALT) mods |= static_cast<uint8_t>(Modifier::Alt);
  if (sdlMods & KMOD_GUI) mods |= static_cast<uint8_t>(Modifier::Super);
  if (sdlMods & KMOD_CAPS) mods |= static_cast<uint8_t>(Modifier::CapsLock);
  if (sdlMods & KMOD_NUM) mods |= static_cast<uint8_t>(Modifier::NumLock);
  return mods;
}

}  // namespace nubrik
