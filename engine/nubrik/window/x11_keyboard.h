// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "nubrik/window/input_event.h"

namespace nubrik {

// Key codes as the engine names them, from the server's keyboard
// description: each X key code's XKB key name ("AC01", "LEFT") says where
// the key is, whatever the layout. Without the XKB extension every key is
// Key::Unknown (text input still works).
class X11Keyboard {
 public:
  explicit X11Keyboard(Display* display);

  Key keyFor(unsigned keycode) const {
    return keycode < keys_.size() ? keys_[keycode] : Key::Unknown;
  }
  // What the key prints in the layout group of `state`, without modifiers
  // ("a", "é"), else its name ("Left").
  std::string labelFor(unsigned keycode, unsigned state, Key key) const;
  // Modifier flags of a core event state.
  static uint8_t modifiers(unsigned state);
  // Asks the server again after a keyboard change.
  void refresh();

 private:
  Display* display_;
  bool xkb_ = false;
  std::array<Key, 256> keys_{};
};

// The character a keysym stands for (Latin-1 and Unicode keysyms), or 0.
uint32_t keysymToCodePoint(unsigned long keysym);
// The code points of a UTF-8 string; malformed bytes are skipped.
std::vector<uint32_t> decodeUtf8(const char* text, size_t length);

}  // namespace nubrik
