#pragma once

// Input sent to a window as a user would send it (through XTEST), with the
// events a program should receive for it, and the comparison of those with
// what the program printed (examples/input_events' lines).

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace nubrik::tools {

// Puts the pointer and the keyboard focus on `window`, then sends `count`
// random actions (key taps, some with Shift; clicks of buttons 1 to 3, 8 and
// 9; wheel steps; moves and drags inside the window). Returns the events the
// window's program should print, in order, as input_events' JSON lines
// without "t_ms". The keys are those of a US layout. Pointer positions are
// expected in surface pixels: window pixels over `scale`. `focusMs` is how
// long the window may take to report the focus before the keys come.
std::vector<std::string> sendInput(Display* display, Window window, uint32_t seed, int count,
                                   int scale = 1, int focusMs = 2);

// Puts the pointer and the keyboard focus on `window` and holds the key
// down for `milliseconds`; false without XTEST.
bool holdKey(Display* display, Window window, KeyCode key, int milliseconds);

// Compares `received` (input_events' lines) with `expected`. Strict: every
// line, in order. Otherwise, as the Win32 window under wine reports input:
// crossing and focus lines are left out on both sides, and moves may merge,
// so the moves received need only be some of those expected, in order.
// Received times must never decrease. Empty when they agree, else what
// differs first.
std::string compareEvents(const std::vector<std::string>& expected,
                          const std::vector<std::string>& received, bool strict);

}  // namespace nubrik::tools
