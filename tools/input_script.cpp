#include "input_script.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

namespace nubrik::tools {

namespace {

struct TypedKey {
  KeySym keysym;
  std::string name;     // the key's layout-independent name
  std::string text;     // what it types, "" for none
  std::string shifted;  // what it types with Shift
};

std::vector<TypedKey> usKeys() {
  std::vector<TypedKey> keys;
  for (int i = 0; i < 26; ++i) {
    keys.push_back({static_cast<KeySym>(XK_a + i), std::string(1, char('A' + i)),
                    std::string(1, char('a' + i)), std::string(1, char('A' + i))});
  }
  const char* shiftedDigits = ")!@#$%^&*(";
  for (int i = 0; i < 10; ++i) {
    keys.push_back({static_cast<KeySym>(XK_0 + i), "Digit" + std::to_string(i),
                    std::string(1, char('0' + i)), std::string(1, shiftedDigits[i])});
  }
  const TypedKey others[] = {
      {XK_space, "Space", " ", " "}, {XK_minus, "Minus", "-", "_"},
      {XK_comma, "Comma", ",", "<"}, {XK_period, "Period", ".", ">"},
      {XK_slash, "Slash", "/", "?"}, {XK_Left, "Left", "", ""},
      {XK_Right, "Right", "", ""},   {XK_Up, "Up", "", ""},
      {XK_Down, "Down", "", ""},     {XK_F1, "F1", "", ""},
      {XK_Escape, "Escape", "", ""}, {XK_Return, "Enter", "", ""},
      {XK_Tab, "Tab", "", ""},       {XK_BackSpace, "Backspace", "", ""},
      {XK_Home, "Home", "", ""},     {XK_Delete, "Delete", "", ""},
  };
  keys.insert(keys.end(), std::begin(others), std::end(others));
  return keys;
}

std::string key(const char* type, const std::string& name, bool shift) {
  std::string line = std::string("{\"type\":\"") + type + "\",\"key\":\"" + name + "\"";
  if (std::string(type) == "key_down") line += ",\"repeat\":false";
  return line + ",\"mods\":[" + (shift ? "\"shift\"" : "") + "]}";
}

std::string text(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return "{\"type\":\"text\",\"text\":\"" + escaped + "\"}";
}

std::string pointer(const char* type, const char* button, int x, int y) {
  std::string line = std::string("{\"type\":\"") + type + "\"";
  if (button != nullptr) line += std::string(",\"button\":\"") + button + "\"";
  return line + ",\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) + "}";
}

std::string plain(const char* type) { return std::string("{\"type\":\"") + type + "\"}"; }

bool isMotion(const std::string& line) { return line.rfind("{\"type\":\"motion\"", 0) == 0; }

bool isCrossingOrFocus(const std::string& line) {
  for (const char* type : {"enter", "leave", "focus_in", "focus_out"}) {
    if (line == plain(type)) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> sendInput(Display* display, Window window, uint32_t seed, int count,
                                   int scale, int focusMs) {
  std::vector<std::string> expected;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) return expected;
  const int width = attributes.width, height = attributes.height;
  int originX = 0, originY = 0;
  Window child;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &originX, &originY,
                        &child);
  const int screen = DefaultScreen(display);
  std::mt19937 random(seed);
  auto settle = [display] {
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  int x = 0, y = 0;
  auto moveTo = [&](int nx, int ny) {
    XTestFakeMotionEvent(display, screen, originX + nx, originY + ny, 0);
    x = nx;
    y = ny;
    expected.push_back(pointer("motion", nullptr, x / scale, y / scale));
  };
  auto newPlace = [&] {
    int nx, ny;
    do {
      nx = static_cast<int>(random() % static_cast<uint32_t>(width));
      ny = static_cast<int>(random() % static_cast<uint32_t>(height));
    } while (nx == x && ny == y);
    return std::pair{nx, ny};
  };

  // In from outside, then the keyboard.
  expected.push_back(plain("enter"));
  auto [startX, startY] = newPlace();
  moveTo(startX, startY);
  settle();
  XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
  expected.push_back(plain("focus_in"));
  settle();
  std::this_thread::sleep_for(std::chrono::milliseconds(focusMs));

  const std::vector<TypedKey> keys = usKeys();
  const KeyCode shiftCode = XKeysymToKeycode(display, XK_Shift_L);
  for (int i = 0; i < count; ++i) {
    switch (random() % 6) {
      case 0:
      case 1: {  // a key tapped, a third of the time with Shift
        const TypedKey& k = keys[random() % keys.size()];
        const bool shift = random() % 3 == 0;
        const KeyCode code = XKeysymToKeycode(display, k.keysym);
        if (shift) {
          XTestFakeKeyEvent(display, shiftCode, True, 0);
          expected.push_back(key("key_down", "LeftShift", true));
        }
        XTestFakeKeyEvent(display, code, True, 0);
        expected.push_back(key("key_down", k.name, shift));
        const std::string& typed = shift ? k.shifted : k.text;
        if (!typed.empty()) expected.push_back(text(typed));
        XTestFakeKeyEvent(display, code, False, 0);
        expected.push_back(key("key_up", k.name, shift));
        if (shift) {
          XTestFakeKeyEvent(display, shiftCode, False, 0);
          expected.push_back(key("key_up", "LeftShift", false));
        }
        break;
      }
      case 2: {  // a click
        constexpr unsigned kButtons[] = {1, 2, 3, 8, 9};
        constexpr const char* kNames[] = {"left", "middle", "right", "x1", "x2"};
        const size_t b = random() % 5;
        XTestFakeButtonEvent(display, kButtons[b], True, 0);
        XTestFakeButtonEvent(display, kButtons[b], False, 0);
        expected.push_back(pointer("button_down", kNames[b], x / scale, y / scale));
        expected.push_back(pointer("button_up", kNames[b], x / scale, y / scale));
        break;
      }
      case 3: {  // a wheel step: up, down, left, right
        constexpr const char* kSteps[] = {"\"dx\":0,\"dy\":1", "\"dx\":0,\"dy\":-1",
                                          "\"dx\":-1,\"dy\":0", "\"dx\":1,\"dy\":0"};
        const unsigned step = random() % 4;
        XTestFakeButtonEvent(display, 4 + step, True, 0);
        XTestFakeButtonEvent(display, 4 + step, False, 0);
        expected.push_back(std::string("{\"type\":\"wheel\",") + kSteps[step] + "}");
        break;
      }
      case 4: {  // a move
        auto [nx, ny] = newPlace();
        moveTo(nx, ny);
        break;
      }
      default: {  // a drag with the left button
        XTestFakeButtonEvent(display, 1, True, 0);
        expected.push_back(pointer("button_down", "left", x / scale, y / scale));
        settle();
        auto [nx, ny] = newPlace();
        moveTo(nx, ny);
        settle();
        XTestFakeButtonEvent(display, 1, False, 0);
        expected.push_back(pointer("button_up", "left", x / scale, y / scale));
        break;
      }
    }
    settle();
  }
  return expected;
}

bool holdKey(Display* display, Window window, KeyCode key, int milliseconds) {
  int opcode, event, error;
  if (!XQueryExtension(display, "XTEST", &opcode, &event, &error)) return false;
  int originX = 0, originY = 0;
  Window child;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &originX, &originY,
                        &child);
  XTestFakeMotionEvent(display, DefaultScreen(display), originX + 1, originY + 1, 0);
  XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
  XTestFakeKeyEvent(display, key, True, 0);
  XSync(display, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  XTestFakeKeyEvent(display, key, False, 0);
  XSync(display, False);
  return true;
}

std::string compareEvents(const std::vector<std::string>& expectedLines,
                          const std::vector<std::string>& receivedLines, bool strict) {
  std::vector<std::string> expected, received;
  double lastTime = -1;
  for (const std::string& line : receivedLines) {
    const size_t at = line.find(",\"t_ms\":");
    if (at == std::string::npos || line.back() != '}') return "no time in: " + line;
    const double time = std::strtod(line.c_str() + at + 8, nullptr);
    if (time < lastTime) return "time goes back at: " + line;
    lastTime = time;
    received.push_back(line.substr(0, at) + "}");
  }
  expected = expectedLines;
  if (!strict) {
    std::erase_if(expected, isCrossingOrFocus);
    std::erase_if(received, isCrossingOrFocus);
  }
  size_t i = 0;
  for (size_t j = 0; j < received.size(); ++j, ++i) {
    // Moves that merged into later ones are skipped over.
    while (!strict && i < expected.size() && isMotion(expected[i]) && expected[i] != received[j]) {
      ++i;
    }
    if (i >= expected.size()) {
      return "received more than was sent, from line " + std::to_string(j + 1) + ": " + received[j];
    }
    if (expected[i] != received[j]) {
      return "line " + std::to_string(j + 1) + " received: " + received[j] + "\n  expected (line " +
             std::to_string(i + 1) + "): " + expected[i];
    }
  }
  while (!strict && i < expected.size() && isMotion(expected[i])) ++i;
  if (i < expected.size()) {
    return "received " + std::to_string(received.size()) + " lines; missing from expected line " +
           std::to_string(i + 1) + ": " + expected[i];
  }
  return "";
}

}  // namespace nubrik::tools
