#include "nubrik/window/x11_keyboard.h"

#include <X11/XKBlib.h>

#include <cstring>
#include <string_view>

namespace nubrik {

namespace {

struct NamedKey {
  const char* name;
  Key key;
};

// XKB's names of the keys' places (those of the evdev and xfree86 key
// code sets agree on these).
// clang-format off
constexpr NamedKey kKeyPlaces[] = {
    {"TLDE", Key::Grave}, {"AE01", Key::Digit1}, {"AE02", Key::Digit2}, {"AE03", Key::Digit3},
    {"AE04", Key::Digit4}, {"AE05", Key::Digit5}, {"AE06", Key::Digit6}, {"AE07", Key::Digit7},
    {"AE08", Key::Digit8}, {"AE09", Key::Digit9}, {"AE10", Key::Digit0}, {"AE11", Key::Minus},
    {"AE12", Key::Equal}, {"AD01", Key::Q}, {"AD02", Key::W}, {"AD03", Key::E}, {"AD04", Key::R},
    {"AD05", Key::T}, {"AD06", Key::Y}, {"AD07", Key::U}, {"AD08", Key::I}, {"AD09", Key::O},
    {"AD10", Key::P}, {"AD11", Key::LeftBracket}, {"AD12", Key::RightBracket}, {"AC01", Key::A},
    {"AC02", Key::S}, {"AC03", Key::D}, {"AC04", Key::F}, {"AC05", Key::G}, {"AC06", Key::H},
    {"AC07", Key::J}, {"AC08", Key::K}, {"AC09", Key::L}, {"AC10", Key::Semicolon},
    {"AC11", Key::Apostrophe}, {"AB01", Key::Z}, {"AB02", Key::X}, {"AB03", Key::C},
    {"AB04", Key::V}, {"AB05", Key::B}, {"AB06", Key::N}, {"AB07", Key::M}, {"AB08", Key::Comma},
    {"AB09", Key::Period}, {"AB10", Key::Slash}, {"BKSL", Key::Backslash}, {"AC12", Key::Backslash},
    {"LSGT", Key::IntlBackslash}, {"SPCE", Key::Space}, {"ESC", Key::Escape}, {"RTRN", Key::Enter},
    {"TAB", Key::Tab}, {"BKSP", Key::Backspace}, {"INS", Key::Insert}, {"DELE", Key::Delete},
    {"HOME", Key::Home}, {"END", Key::End}, {"PGUP", Key::PageUp}, {"PGDN", Key::PageDown},
    {"LEFT", Key::Left}, {"RGHT", Key::Right}, {"UP", Key::Up}, {"DOWN", Key::Down},
    {"CAPS", Key::CapsLock}, {"SCLK", Key::ScrollLock}, {"NMLK", Key::NumLock},
    {"PRSC", Key::PrintScreen}, {"PAUS", Key::Pause}, {"MENU", Key::Menu}, {"COMP", Key::Menu},
    {"FK01", Key::F1}, {"FK02", Key::F2}, {"FK03", Key::F3}, {"FK04", Key::F4}, {"FK05", Key::F5},
    {"FK06", Key::F6}, {"FK07", Key::F7}, {"FK08", Key::F8}, {"FK09", Key::F9}, {"FK10", Key::F10},
    {"FK11", Key::F11}, {"FK12", Key::F12}, {"FK13", Key::F13}, {"FK14", Key::F14},
    {"FK15", Key::F15}, {"FK16", Key::F16}, {"FK17", Key::F17}, {"FK18", Key::F18},
    {"FK19", Key::F19}, {"FK20", Key::F20}, {"FK21", Key::F21}, {"FK22", Key::F22},
    {"FK23", Key::F23}, {"FK24", Key::F24}, {"KP0", Key::Keypad0}, {"KP1", Key::Keypad1},
    {"KP2", Key::Keypad2}, {"KP3", Key::Keypad3}, {"KP4", Key::Keypad4}, {"KP5", Key::Keypad5},
    {"KP6", Key::Keypad6}, {"KP7", Key::Keypad7}, {"KP8", Key::Keypad8}, {"KP9", Key::Keypad9},
    {"KPDL", Key::KeypadDecimal}, {"KPDV", Key::KeypadDivide}, {"KPMU", Key::KeypadMultiply},
    {"KPSU", Key::KeypadSubtract}, {"KPAD", Key::KeypadAdd}, {"KPEN", Key::KeypadEnter},
    {"KPEQ", Key::KeypadEqual}, {"LFSH", Key::LeftShift}, {"LCTL", Key::LeftControl},
    {"LALT", Key::LeftAlt}, {"LWIN", Key::LeftSuper}, {"RTSH", Key::RightShift},
    {"RCTL", Key::RightControl}, {"RALT", Key::RightAlt}, {"RWIN", Key::RightSuper},
};
// clang-format on

Key keyForPlace(const char* name) {
  const std::string_view place(name, strnlen(name, XkbKeyNameLength));
  for (const NamedKey& entry : kKeyPlaces) {
    if (place == entry.name) return entry.key;
  }
  return Key::Unknown;
}

}  // namespace

X11Keyboard::X11Keyboard(Display* display) : display_(display) {
  int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
  xkb_ = XkbQueryExtension(display_, &opcode, &event, &error, &major, &minor);
  refresh();
}

void X11Keyboard::refresh() {
  keys_.fill(Key::Unknown);
  if (!xkb_) return;
  XkbDescPtr description = XkbGetMap(display_, 0, XkbUseCoreKbd);
  if (description == nullptr) return;
  if (XkbGetNames(display_, XkbKeyNamesMask | XkbKeyAliasesMask, description) == Success &&
      description->names != nullptr && description->names->keys != nullptr) {
    const XkbNamesPtr names = description->names;
    for (int code = description->min_key_code;
         code <= description->max_key_code && code < static_cast<int>(keys_.size()); ++code) {
      Key key = keyForPlace(names->keys[code].name);
      // A key known only by an alias ("LMTA" for the left Windows key).
      for (int a = 0; key == Key::Unknown && a < names->num_key_aliases; ++a) {
        const XkbKeyAliasRec& alias = names->key_aliases[a];
        if (std::strncmp(alias.real, names->keys[code].name, XkbKeyNameLength) == 0) {
          key = keyForPlace(alias.alias);
        }
      }
      keys_[static_cast<size_t>(code)] = key;
    }
  }
  XkbFreeKeyboard(description, 0, True);
}

std::string X11Keyboard::labelFor(unsigned keycode, unsigned state, Key key) const {
  const unsigned long keysym =
      xkb_ ? XkbKeycodeToKeysym(display_, static_cast<KeyCode>(keycode), (state >> 13) & 3, 0) : 0;
  const uint32_t codePoint = keysymToCodePoint(keysym);
  char text[8];
  if (codePoint > 0x20 && codePoint != 0x7F && encodeUtf8(codePoint, text)) return text;
  return std::string(keyName(key));
}

uint8_t X11Keyboard::modifiers(unsigned state) {
  uint8_t mods = 0;
  if (state & ShiftMask) mods |= static_cast<uint8_t>(Modifier::Shift);
  if (state & ControlMask) mods |= static_cast<uint8_t>(Modifier::Control);
  if (state & Mod1Mask) mods |= static_cast<uint8_t>(Modifier::Alt);
  if (state & Mod4Mask) mods |= static_cast<uint8_t>(Modifier::Super);
  if (state & LockMask) mods |= static_cast<uint8_t>(Modifier::CapsLock);
  if (state & Mod2Mask) mods |= static_cast<uint8_t>(Modifier::NumLock);
  return mods;
}

uint32_t keysymToCodePoint(unsigned long keysym) {
  if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF)) {
    return static_cast<uint32_t>(keysym);
  }
  if (keysym >= 0x01000000 && keysym <= 0x0110FFFF)
    return static_cast<uint32_t>(keysym - 0x01000000);
  return 0;
}

std::vector<uint32_t> decodeUtf8(const char* text, size_t length) {
  std::vector<uint32_t> out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length;) {
    const unsigned char lead = bytes[i];
    size_t count = 0;
    uint32_t c = 0, least = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      count = 1, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      count = 2, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      count = 3, c = lead & 0x07, least = 0x10000;
    } else {
      ++i;  // a stray continuation or an invalid lead byte
      continue;
    }
    bool valid = true;
    for (size_t k = 1; valid && k <= count; ++k) {
      if (i + k >= length || (bytes[i + k] & 0xC0) != 0x80) {
        valid = false;
      } else {
        c = c << 6 | (bytes[i + k] & 0x3F);
      }
    }
    if (!valid || c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
      ++i;
      continue;
    }
    out.push_back(c);
    i += count + 1;
  }
  return out;
}

}  // namespace nubrik
