// Input on the X11 window, as a user sends it through XTEST to the shipped
// examples on virtual X servers: every event arrives, in order, with its
// key, button and surface coordinates; keys keep their names whatever the
// layout; the arrow program moves its square and ends on Escape. And a
// window that cannot be made says why.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/virtual_display.h"
#include "input_script.h"
#include "nubrik/window/app_window.h"
#include "nubrik/window/x11_window.h"

// Last: Xlib defines macros (None, Bool) that clash with the names above.
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace nubrik {
namespace {

using testing::spawn;
using testing::VirtualDisplay;

const std::string kRunDir = NUBRIK_RUN_DIR;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("{\"type\":", 0) == 0) out.push_back(line);
  }
  return out;
}

void tap(Display* display, KeyCode code, int holdMs = 0) {
  XTestFakeKeyEvent(display, code, True, 0);
  XSync(display, False);
  if (holdMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
  XTestFakeKeyEvent(display, code, False, 0);
  XSync(display, False);
}

// Random input, differential: what was sent against what the program
// printed, line by line; then the same keyboard under another layout and a
// held key.
TEST(X11InputTest, EveryEventSentArrivesInOrder) {
  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  auto program =
      spawn({kRunDir + "/input_events", "--size", "320x240"}, kRunDir, {"DISPLAY=" + x.name()});
  const Window window = x.find("Nubrik input events");
  ASSERT_NE(window, 0u) << program.output();
  std::vector<std::string> expected = tools::sendInput(x.display(), window, 20, 400);

  // The key where A is on a US keyboard typing "é": still Key::A.
  Display* d = x.display();
  const KeyCode a = XKeysymToKeycode(d, XK_a);
  int perCode = 0;
  KeySym* old = XGetKeyboardMapping(d, a, 1, &perCode);
  std::vector<KeySym> changed(old, old + perCode);
  XFree(old);
  std::vector<KeySym> accented = changed;
  accented[0] = XK_eacute;
  if (perCode > 1) accented[1] = XK_Eacute;
  XChangeKeyboardMapping(d, a, perCode, accented.data(), 1);
  XSync(d, False);
  tap(d, a);
  expected.push_back(R"({"type":"key_down","key":"A","repeat":false,"mods":[]})");
  expected.push_back(R"({"type":"text","text":"é"})");
  expected.push_back(R"({"type":"key_up","key":"A","mods":[]})");
  // The program reads the mapping when it looks the key up: the old one
  // comes back only once it has.
  for (int i = 0; i < 1000 && program.output().find("\"é\"") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  XChangeKeyboardMapping(d, a, perCode, changed.data(), 1);
  XSync(d, False);

  // A held key repeats: presses flagged as repeats, one release.
  XkbSetAutoRepeatRate(d, XkbUseCoreKbd, 100, 20);
  tap(d, XKeysymToKeycode(d, XK_Right), 400);
  x.requestClose(window);
  ASSERT_EQ(program.wait(30), 0) << program.output();

  std::vector<std::string> received = lines(program.output());
  const std::string down = R"({"type":"key_down","key":"Right","repeat":)";
  size_t repeats = 0;
  std::erase_if(received, [&](const std::string& line) {
    const bool repeat = line.rfind(down + "true", 0) == 0;
    repeats += repeat;
    return repeat;
  });
  EXPECT_GT(repeats, 0u);
  expected.push_back(down + R"(false,"mods":[]})");
  expected.push_back(R"({"type":"key_up","key":"Right","mods":[]})");
  expected.push_back(R"({"type":"close"})");
  EXPECT_EQ(tools::compareEvents(expected, received, /*strict=*/true), "");
}

uint32_t pixelAt(Display* display, Window window, int x, int y) {
  XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
  const auto pixel = image ? static_cast<uint32_t>(XGetPixel(image, 0, 0) & 0xFFFFFF) : 0u;
  if (image) XDestroyImage(image);
  return pixel;
}

// Whether the window's client area shows `colour` on the first `width` x
// `height` pixels and black beyond.
bool shows(Display* display, Window window, uint32_t colour, int width, int height) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) return false;
  XImage* image =
      XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  bool all = true;
  for (int y = 0; all && y < attributes.height; ++y) {
    for (int x = 0; all && x < attributes.width; ++x) {
      all = (XGetPixel(image, x, y) & 0xFFFFFF) == (x < width && y < height ? colour : 0u);
    }
  }
  XDestroyImage(image);
  return all;
}

// At scales 1 to 3, random input arrives in surface pixels; growing the
// window (to sizes that are not whole blocks) arrives as a resize to the
// surface that fits, after which the window shows the program's
// background, which it fits to the surface, on every whole block: no
// strip left undrawn, no crop.
TEST(X11InputTest, ScaledInputAndResizesArriveInSurfacePixels) {
  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  Display* d = x.display();
  for (const int scale : {1, 2, 3}) {  // 1: composed in place, in shared memory
    SCOPED_TRACE("scale " + std::to_string(scale));
    auto program = spawn({kRunDir + "/input_events", "--size", "90x70", "--scale",
                          std::to_string(scale), "--resizable"},
                         kRunDir, {"DISPLAY=" + x.name()});
    const Window window = x.find("Nubrik input events");
    ASSERT_NE(window, 0u) << program.output();
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(d, window, &attributes));
    EXPECT_EQ(attributes.width, 90 * scale);
    EXPECT_EQ(attributes.height, 70 * scale);
    std::vector<std::string> expected =
        tools::sendInput(d, window, 30 + static_cast<uint32_t>(scale), 150, scale);
    // Only growing: the pointer stays inside, and no crossing comes.
    for (const auto& [w, h] : {std::pair{120, 90}, {180, 130}}) {
      XResizeWindow(d, window, static_cast<unsigned>(w * scale + scale - 1),
                    static_cast<unsigned>(h * scale + scale / 2));
      XSync(d, False);
      expected.push_back("{\"type\":\"resize\",\"width\":" + std::to_string(w) +
                         ",\"height\":" + std::to_string(h) + "}");
      // The window shows the program's background, 0x282C34, over the
      // whole scaled surface as soon as the program has answered the
      // resize, and black on what is left of a block.
      bool whole = false;
      for (int i = 0; i < 1000 && !whole; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        whole = shows(d, window, 0x282C34, w * scale, h * scale);
      }
      EXPECT_TRUE(whole) << w << " x " << h << "\n" << program.output();
    }
    x.requestClose(window);
    ASSERT_EQ(program.wait(30), 0) << program.output();
    expected.push_back(R"({"type":"close"})");
    EXPECT_EQ(tools::compareEvents(expected, lines(program.output()), /*strict=*/true), "");
  }
}

// The 30-line program: the square goes right while Right is held, and
// Escape ends the program with 0.
TEST(X11InputTest, ArrowsMovesItsSquareAndEndsOnEscape) {
  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  auto program = spawn({kRunDir + "/arrows"}, kRunDir, {"DISPLAY=" + x.name()});
  const Window window = x.find("Arrows");
  ASSERT_NE(window, 0u) << program.output();
  constexpr uint32_t kSquare = 0xFFBE00;
  auto leftEdge = [&] {
    for (int px = 0; px < 640; ++px) {
      if (pixelAt(x.display(), window, px, 240) == kSquare) return px;
    }
    return -1;
  };
  int start = -1;
  for (int i = 0; i < 500 && start < 0; ++i) {
    start = leftEdge();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(start, 300) << program.output();
  XTestFakeMotionEvent(x.display(), DefaultScreen(x.display()), 10, 10, 0);
  XSetInputFocus(x.display(), window, RevertToPointerRoot, CurrentTime);
  // Held until the square has gone some way, however slow the machine.
  const KeyCode right = XKeysymToKeycode(x.display(), XK_Right);
  XTestFakeKeyEvent(x.display(), right, True, 0);
  XSync(x.display(), False);
  int moved = start;
  for (int i = 0; i < 1000 && moved < start + 40; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    moved = leftEdge();
  }
  XTestFakeKeyEvent(x.display(), right, False, 0);
  XSync(x.display(), False);
  EXPECT_GE(moved, start + 40);
  EXPECT_EQ(pixelAt(x.display(), window, start, 240), 0x181C24u);  // the background
  tap(x.display(), XKeysymToKeycode(x.display(), XK_Escape));
  EXPECT_EQ(program.wait(30), 0) << program.output();
}

TEST(X11WindowTest, CreateSaysWhichDisplayFailedAndWhy) {
  auto message = [](const X11WindowOptions& options) -> std::string {
    try {
      X11Window::create("t", "t", 64, 48, options);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "no failure";
  };
  X11WindowOptions bad;
  bad.display = ":9876";
  EXPECT_NE(message(bad).find("cannot open the X display \":9876\""), std::string::npos)
      << message(bad);
  const char* previous = std::getenv("DISPLAY");
  const std::string saved = previous ? previous : "";
  unsetenv("DISPLAY");
  EXPECT_NE(message({}).find("DISPLAY is not set"), std::string::npos) << message({});
  if (previous) setenv("DISPLAY", saved.c_str(), 1);

  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  X11WindowOptions good;
  good.display = x.name();
  EXPECT_THROW(X11Window::create("t", "t", 0, 48, good), std::invalid_argument);
  EXPECT_THROW(X11Window::create("t", "t", 64, 40000, good), std::invalid_argument);
}

// The options reach the server (class, full screen), and a key event read
// on the window's own thread carries what the layout prints on the key.
TEST(X11WindowTest, OptionsReachTheWindowAndKeysCarryTheirLabel) {
  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  WindowOptions options;
  options.title = "options";
  options.className = "OptionsClass";
  options.fullscreen = true;
  options.hiddenCursor = true;
  X11WindowOptions where;
  where.display = x.name();
  auto window = X11Window::create(options, where);
  Display* d = x.display();
  EXPECT_EQ(window->getClientWidth(), static_cast<uint32_t>(DisplayWidth(d, DefaultScreen(d))));
  EXPECT_EQ(window->getClientHeight(), static_cast<uint32_t>(DisplayHeight(d, DefaultScreen(d))));
  window->show();
  const Window id = x.find("options");
  ASSERT_NE(id, 0u);
  XClassHint hint{};
  ASSERT_TRUE(XGetClassHint(d, id, &hint));
  EXPECT_STREQ(hint.res_class, "OptionsClass");
  EXPECT_STREQ(hint.res_name, program_invocation_short_name);
  XFree(hint.res_class);
  XFree(hint.res_name);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* state = nullptr;
  XGetWindowProperty(d, id, XInternAtom(d, "_NET_WM_STATE", False), 0, 4, False, AnyPropertyType,
                     &type, &format, &count, &after, &state);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(*reinterpret_cast<Atom*>(state), XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False));
  XFree(state);

  XSetInputFocus(d, id, RevertToPointerRoot, CurrentTime);
  tap(d, XKeysymToKeycode(d, XK_a));
  InputEvent key;
  bool found = false;
  for (int i = 0; i < 200 && !found; ++i) {
    window->waitEvent(50);
    while (!found && window->input().poll(key)) found = key.type == InputEventType::KeyDown;
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(key.key, Key::A);
  EXPECT_STREQ(key.label, "a");
  EXPECT_TRUE(window->getFailure().empty());
}

// A resize handler of the program's own that throws in the window's event
// loop ends run() with what it threw, with the frame thread stopped and the
// Resize event queued all the same.
TEST(X11WindowTest, AResizeHandlerThatThrowsEndsRunCleanly) {
  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  WindowOptions options;
  options.title = "throwing handler";
  options.width = 120;
  options.height = 90;
  options.resizable = true;
  X11WindowOptions where;
  where.display = x.name();
  AppWindow app(X11Window::create(options, where));
  app.getWindow().setResizeHandler(
      [](uint32_t, uint32_t) { throw std::runtime_error("the program refuses"); });
  std::atomic<bool> ended{false};
  std::thread user([&] {
    const Window id = x.find("throwing handler");
    if (id != 0) {
      XResizeWindow(x.display(), id, 200, 150);
      XSync(x.display(), False);
    }
    for (int i = 0; i < 10000 && !ended; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!ended) app.quit(99);
  });
  try {
    app.run();
    ADD_FAILURE() << "run() returned";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "the program refuses");
  }
  ended = true;
  user.join();
  EXPECT_FALSE(app.getScreen().isFrameThreadRunning());
  bool resized = false;
  for (InputEvent e; app.input().poll(e);) {
    resized = resized || (e.type == InputEventType::Resize && e.width == 200 && e.height == 150);
  }
  EXPECT_TRUE(resized);
}

}  // namespace
}  // namespace nubrik
