// The Win32 window's translation of the system's messages into input
// events: keys by scan code, repeats, text across surrogate pairs, the
// pointer with its crossing, buttons and fractional wheel steps.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "nubrik/base/platform/win32_api.h"
#include "nubrik/window/win32_window.h"

namespace nubrik {
namespace {

LPARAM keyParam(UINT scanCode, bool extended, bool wasDown, bool up) {
  return static_cast<LPARAM>(1 | (scanCode & 0xFF) << 16 | (extended ? 1u << 24 : 0) |
                             (wasDown ? 1u << 30 : 0) | (up ? 1u << 31 : 0));
}

LPARAM at(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

std::string describe(const InputEvent& e) {
  std::ostringstream d;
  d << inputEventTypeName(e.type);
  switch (e.type) {
    case InputEventType::KeyDown:
    case InputEventType::KeyUp:
      d << ' ' << keyName(e.key) << (e.repeat ? " repeat" : "");
      break;
    case InputEventType::Text:
      d << ' ' << e.text;
      break;
    case InputEventType::ButtonDown:
    case InputEventType::ButtonUp:
      d << ' ' << pointerButtonName(e.button);
      [[fallthrough]];
    case InputEventType::Motion:
      d << ' ' << e.x << ',' << e.y;
      break;
    case InputEventType::Wheel:
      d << ' ' << e.dx << ',' << e.dy;
      break;
    default:
      break;
  }
  return d.str();
}

TEST(Win32InputTest, MessagesBecomeEventsInOrder) {
  Win32Window window(nullptr);  // translation only: no window behind it
  const struct {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  } messages[] = {
      {WM_KEYDOWN, VK_LEFT, keyParam(0x4B, true, false, false)},
      {WM_KEYDOWN, VK_LEFT, keyParam(0x4B, true, true, false)},
      {WM_KEYUP, VK_LEFT, keyParam(0x4B, true, true, true)},
      {WM_KEYDOWN, VK_NUMPAD4, keyParam(0x4B, false, false, false)},
      {WM_KEYDOWN, VK_RETURN, keyParam(0x1C, true, false, false)},
      {WM_SYSKEYDOWN, 'A', keyParam(0x1E, false, false, false)},
      {WM_KEYDOWN, VK_ESCAPE, 0},  // made up, without a scan code
      {WM_KEYDOWN, VK_PAUSE, keyParam(0x45, false, false, false)},
      {WM_KEYDOWN, VK_NUMLOCK, keyParam(0x45, true, false, false)},
      {WM_CHAR, 'a', 0},
      {WM_CHAR, '\r', 0},
      {WM_CHAR, 0xD83D, 0},
      {WM_CHAR, 0xDE00, 0},
      {WM_CHAR, 0xDE00, 0},  // a low surrogate alone
      {WM_UNICHAR, 0x1F642, 0},
      {WM_MOUSEMOVE, 0, at(10, 20)},
      {WM_MOUSEMOVE, 0, at(10, 20)},  // the same place again
      {WM_MOUSEMOVE, 0, at(-5, 30)},
      {WM_LBUTTONDOWN, MK_LBUTTON, at(-5, 30)},
      {WM_LBUTTONUP, 0, at(600, 2)},
      {WM_XBUTTONDOWN, MAKEWPARAM(0, XBUTTON2), at(1, 2)},
      {WM_XBUTTONUP, MAKEWPARAM(0, XBUTTON1), at(1, 2)},
      {WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0},
      {WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-60)), 0},
      {WM_MOUSEHWHEEL, MAKEWPARAM(0, 240), 0},
      {WM_MOUSELEAVE, 0, 0},
      {WM_MOUSEMOVE, 0, at(3, 4)},
      {WM_SETFOCUS, 0, 0},
      {WM_KILLFOCUS, 0, 0},
      {WM_PAINT, 0, 0},  // not input
  };
  for (const auto& m : messages) window.handleMessage(m.message, m.wParam, m.lParam);
  const std::vector<std::string> expected = {
      "key_down Left",
      "key_down Left repeat",
      "key_up Left",
      "key_down Keypad4",
      "key_down KeypadEnter",
      "key_down A",
      "key_down Escape",
      "key_down Pause",
      "key_down NumLock",
      "text a",
      "text \xF0\x9F\x98\x80",
      "text \xF0\x9F\x99\x82",
      "enter",
      "motion 10,20",
      "motion -5,30",
      "button_down left -5,30",
      "button_up left 600,2",
      "button_down x2 1,2",
      "button_up x1 1,2",
      "wheel 0,1",
      "wheel 0,-0.5",
      "wheel 2,0",
      "leave",
      "enter",
      "motion 3,4",
      "focus_in",
      // Keys still down are released when the focus goes.
      "key_up A",
      "key_up Escape",
      "key_up NumLock",
      "key_up Pause",
      "key_up Keypad4",
      "key_up KeypadEnter",
      "focus_out",
  };
  std::vector<std::string> got;
  for (InputEvent e; window.input().poll(e);) got.push_back(describe(e));
  EXPECT_EQ(got, expected);
  EXPECT_EQ(window.input().getPointerPosition(), (Point{3, 4}));
}

// A window at scale 3: pointer positions in surface pixels (rounded down,
// also left of the window), and a resize of its client area a Resize event
// to the surface that fits, after the resize handler.
TEST(Win32InputTest, ScaledWindowReportsSurfacePixelsAndResizes) {
  WindowOptions options;
  options.title = "scaled";
  options.className = "NubrikScaledTest";
  options.width = 40;
  options.height = 30;
  options.scale = 3;
  options.resizable = true;
  std::unique_ptr<Win32Window> window;
  try {
    window = Win32Window::create(options);
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no window here (wine without a display?): " << e.what();
  }
  EXPECT_EQ(window->getClientWidth(), 120u);
  EXPECT_EQ(window->getSurfaceWidth(), 40u);
  EXPECT_EQ(window->getSurfaceHeight(), 30u);
  std::vector<std::string> handled;
  window->setResizeHandler([&](uint32_t w, uint32_t h) {
    handled.push_back(std::to_string(w) + "x" + std::to_string(h));
  });
  window->handleMessage(WM_MOUSEMOVE, 0, at(7, 8));
  window->handleMessage(WM_LBUTTONDOWN, MK_LBUTTON, at(-1, 5));
  window->handleMessage(WM_LBUTTONUP, 0, at(-4, 3));
  RECT outer{0, 0, 200, 95};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongW(window->handle(), GWL_STYLE)), FALSE,
                     0);
  SetWindowPos(window->handle(), nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(handled, (std::vector<std::string>{"66x31"}));
  EXPECT_EQ(window->getSurfaceWidth(), 66u);
  EXPECT_EQ(window->getSurfaceHeight(), 31u);
  std::vector<std::string> got;
  for (InputEvent e; window->input().poll(e);) {
    // Crossing and focus depend on the system's window manager.
    if (e.type == InputEventType::Enter || e.type == InputEventType::FocusGained) continue;
    got.push_back(e.type == InputEventType::Resize
                      ? "resize " + std::to_string(e.width) + "x" + std::to_string(e.height)
                      : describe(e));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"motion 2,2", "button_down left -1,1",
                                           "button_up left -2,1", "resize 66x31"}));
}

}  // namespace
}  // namespace nubrik
