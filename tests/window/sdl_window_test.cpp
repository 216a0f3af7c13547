// SDL's window: random scenes, with resizes, shown through it at scales 1
// to 3 equal the in-memory window pixel for pixel (read back from SDL's
// window surface, and from the X server or the compositor where there is
// one), on SDL's offscreen driver, its X11 driver under Xvfb and its Wayland
// driver under weston; the options reach the window; gamepads come through
// SDL's virtual joystick, every button and axis in order.

#include "nubrik/window/sdl_window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include "nubrik/screen/screen_internals.h"
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "nubrik/image/load_image.h"
#include "nubrik/screen/frame_pipeline.h"
#include "nubrik/screen/screen.h"
#include "nubrik/screen/sprite_drawer.h"
#include "nubrik/window/memory_window.h"
#include "nubrik/window/sdl_library.h"

// Last: Xlib defines macros (None, Bool) that clash with the names above.
#include <X11/Xutil.h>

#include "app/virtual_display.h"

namespace nubrik {
namespace {

using namespace std::chrono_literals;
using testing::spawn;
using testing::VirtualDisplay;
namespace fs = std::filesystem;

// Environment variables for one test, as they were afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<const char*, std::optional<std::string>>> set) {
    for (const auto& [name, value] : set) {
      const char* old = std::getenv(name);
      saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Runs the window's loop until nothing has come for `quiet`, at most 5 s;
// whether it asked for the picture to be composed again.
bool settle(EventWindow& window, std::chrono::milliseconds quiet = 60ms) {
  const auto end = std::chrono::steady_clock::now() + 5s;
  bool redraw = false;
  while (std::chrono::steady_clock::now() < end) {
    const WindowEvent event = window.waitEvent(static_cast<uint32_t>(quiet.count()));
    if (event == WindowEvent::TimedOut) break;
    redraw = redraw || event == WindowEvent::Redraw;
  }
  return redraw;
}

// Runs the window's loop until `done`, at most 10 s; notes in `redraw`
// whether it asked for the picture to be composed again.
bool runUntil(EventWindow& window, const std::function<bool()>& done, bool* redraw = nullptr) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (window.waitEvent(20) == WindowEvent::Redraw && redraw) *redraw = true;
  }
  return true;
}

std::shared_ptr<Image> randomImage(std::mt19937& random) {
  const auto format = static_cast<PixelFormat>(random() % 5);
  auto image = std::make_shared<Image>(1 + random() % 60, 1 + random() % 60, format);
  for (size_t i = 0; i < size_t{image->getPitch()} * image->getHeight(); ++i) {
    image->lock()[i] = static_cast<uint8_t>(random());
  }
  return image;
}

// The same scene on two Screens: each change made to both.
struct TwinScenes {
  Screen& a;
  Screen& b;
  std::mt19937& random;
  std::vector<std::pair<std::shared_ptr<ISprite>, std::shared_ptr<ISprite>>> sprites;

  void add() {
    const int32_t x = int32_t(random() % 240) - 20, y = int32_t(random() % 160) - 20;
    const int32_t z = int32_t(random() % 3);
    std::shared_ptr<ISprite> first, second;
    if (random() % 3 == 0) {
      const Colour colour{static_cast<PixelFormat>(random() % 4),
                          {uint8_t(random()), uint8_t(random()), uint8_t(random()),
                           uint8_t(random() % 2 ? 255 : random())}};
      const Rect rect{x, y, x + 1 + int32_t(random() % 120), y + 1 + int32_t(random() % 80)};
      first = a.createFillRectSprite(0, rect, z, colour);
      second = b.createFillRectSprite(0, rect, z, colour);
    } else {
      auto image = randomImage(random);
      first = a.createImageSprite(0, x, y, z, image);
      second = b.createImageSprite(0, x, y, z, image);
    }
    const auto mode = static_cast<BlendMode>(random() % 5);
    const auto opacity = static_cast<uint8_t>(random() % 2 ? 255 : random());
    for (ISprite* s : {first.get(), second.get()}) {
      s->setBlendMode(mode);
      s->setOpacity(opacity);
      s->show();
      s->invalidate();
    }
    sprites.emplace_back(first, second);
  }

  void change() {
    auto& [first, second] = sprites[random() % sprites.size()];
    const int dx = int(random() % 31) - 15, dy = int(random() % 31) - 15;
    const bool toggle = random() % 4 == 0;
    for (ISprite* s : {first.get(), second.get()}) {
      s->invalidate();
      s->setPosition(s->getX() + dx, s->getY() + dy);
      if (toggle) s->isVisible() ? s->hide() : s->show();
      s->invalidate();
    }
  }
};

// The first place where `shown` (window pixels) differs from `memory` shown
// `scale` times with a black margin; empty when they agree.
std::string difference(const Image& shown, const Image& memory, uint32_t scale) {
  for (uint32_t y = 0; y < shown.getHeight(); ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(shown.lockConst() + y * shown.getPitch());
    for (uint32_t x = 0; x < shown.getWidth(); ++x) {
      uint32_t expected = 0;
      if (x / scale < memory.getWidth() && y / scale < memory.getHeight()) {
        expected = reinterpret_cast<const uint32_t*>(memory.lockConst() +
                                                     (y / scale) * memory.getPitch())[x / scale];
      }
      if ((row[x] & 0xFFFFFF) != (expected & 0xFFFFFF)) {
        char text[96];
        std::snprintf(text, sizeof text, "(%u, %u): window 0x%06x, memory 0x%06x", x, y,
                      row[x] & 0xFFFFFF, expected & 0xFFFFFF);
        return text;
      }
    }
  }
  return "";
}

// The window's pixels as the X server shows them, as 0x00RRGGBB words.
std::shared_ptr<Image> fromServer(Display* display, Window window, uint32_t width,
                                  uint32_t height) {
  XImage* image = XGetImage(display, window, 0, 0, width, height, AllPlanes, ZPixmap);
  if (image == nullptr) return nullptr;
  auto out = std::make_shared<Image>(width, height, PixelFormat::Rgbx);
  for (uint32_t y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(out->lock() + y * out->getPitch());
    for (uint32_t x = 0; x < width; ++x) {
      row[x] = static_cast<uint32_t>(XGetPixel(image, int(x), int(y)) & 0xFFFFFF);
    }
  }
  XDestroyImage(image);
  return out;
}

// Random scenes through an SDL window and an in-memory one, composed alike
// by three threads; resized (when `resizes`) to random sizes, not always
// whole blocks. After every frame the window's surface equals memory, and
// `check` may compare what the window system shows.
void runDifferential(SdlWindow& window, uint32_t seed, bool resizes,
                     const std::function<void(const Image&)>& check = {}) {
  const uint32_t scale = window.getScale();
  std::mt19937 random(seed);
  Screen shown(window.getDC(), window.getSurfaceWidth(), window.getSurfaceHeight());
  MemoryWindow memoryWindow(window.getSurfaceWidth(), window.getSurfaceHeight());
  Screen memory(memoryWindow.getDC(), window.getSurfaceWidth(), window.getSurfaceHeight());
  window.setResizeHandler([&](uint32_t w, uint32_t h) { shown.resize(w, h); });
  TwinScenes scenes{shown, memory, random, {}};
  for (int i = 0; i < 25; ++i) scenes.add();
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    bool redraw = false;
    if (resizes && round % 3 == 2) {
      const uint32_t w = 20 + random() % 200 / scale, h = 20 + random() % 150 / scale;
      SDL_SetWindowSize(window.handle(), int(w * scale + random() % scale),
                        int(h * scale + random() % scale));
      ASSERT_TRUE(runUntil(
          window, [&] { return shown.getWidth() == w && shown.getHeight() == h; }, &redraw))
          << "the window's surface stays " << shown.getWidth() << " x " << shown.getHeight()
          << ", not " << w << " x " << h;
    }
    if (memory.getWidth() != shown.getWidth() || memory.getHeight() != shown.getHeight()) {
      memory.resize(shown.getWidth(), shown.getHeight());
    }
    for (int c = 0; c < 6; ++c) scenes.change();
    // A new surface asks for everything again, and gets it as from AppWindow.
    if (settle(window) || redraw) shown.invalidateAll();
    FramePipeline(*ScreenInternals::spriteDrawer(shown), window.getDC(), 3).composeFrame();
    FramePipeline(*ScreenInternals::spriteDrawer(memory), memoryWindow.getDC(), 3).composeFrame();
    settle(window);
    auto picture = window.capture();
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->getWidth(), window.getClientWidth());
    ASSERT_EQ(picture->getHeight(), window.getClientHeight());
    EXPECT_EQ(difference(*picture, memoryWindow.getSurface().getFramebuffer(), scale), "");
    if (check) check(*picture);
  }
  window.setResizeHandler(nullptr);
}

WindowOptions options(const std::string& title, uint32_t scale) {
  WindowOptions o;
  o.title = title;
  o.className = "NubrikSdlTest";
  o.width = 180 / scale;
  o.height = 120 / scale;
  o.scale = scale;
  o.resizable = true;
  o.gamepads = false;
  return o;
}

TEST(SdlWindowTest, OffscreenPresentationEqualsTheMemoryWindow) {
  ScopedEnvironment environment({{"SDL_VIDEODRIVER", "offscreen"}});
  for (const uint32_t scale : {1u, 2u, 3u}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    auto window = SdlWindow::create(options("offscreen", scale));
    EXPECT_EQ(window->getDriverName(), "offscreen");
    EXPECT_EQ(window->composesInPlace(), scale == 1);
    window->show();
    runDifferential(*window, 40 + scale, /*resizes=*/true);
  }
}

TEST(SdlWindowTest, X11PresentationEqualsTheMemoryWindowAndTheServer) {
  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  ScopedEnvironment environment({{"SDL_VIDEODRIVER", "x11"}, {"DISPLAY", x.name()}});
  for (const uint32_t scale : {1u, 2u, 3u}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    const std::string title = "sdl x11 " + std::to_string(scale);
    auto window = SdlWindow::create(options(title, scale));
    EXPECT_EQ(window->getDriverName(), "x11");
    EXPECT_EQ(window->composesInPlace(), scale == 1);
    window->show();
    const Window id = x.find(title);
    ASSERT_NE(id, 0u);
    runDifferential(*window, 50 + scale, /*resizes=*/true, [&](const Image& picture) {
      auto server = fromServer(x.display(), id, picture.getWidth(), picture.getHeight());
      ASSERT_TRUE(server);
      EXPECT_EQ(difference(*server, picture, 1), "") << "the server against the surface";
    });
  }
}

// What the program asks for reaches the X server: title, class, position,
// size at the scale, full screen; a close request arrives as Close; wake()
// ends a wait from another thread.
TEST(SdlWindowTest, OptionsReachTheWindowAndTheLoopWakes) {
  VirtualDisplay x;
  if (!x.display()) GTEST_SKIP() << "no virtual X server (Xvfb) here";
  ScopedEnvironment environment({{"SDL_VIDEODRIVER", "x11"}, {"DISPLAY", x.name()}});
  Display* d = x.display();
  {
    WindowOptions o = options("placed", 2);
    o.resizable = false;
    o.position = Point{70, 50};
    auto window = SdlWindow::create(o);
    window->show();
    const Window id = x.find("placed");
    ASSERT_NE(id, 0u);
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(d, id, &attributes));
    EXPECT_EQ(attributes.width, 180);
    EXPECT_EQ(attributes.height, 120);
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(d, id, DefaultRootWindow(d), 0, 0, &rootX, &rootY, &child);
    EXPECT_EQ(rootX, 70);
    EXPECT_EQ(rootY, 50);
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(d, id, &hint));
    EXPECT_STREQ(hint.res_class, "NubrikSdlTest");
    XFree(hint.res_class);
    XFree(hint.res_name);
    EXPECT_EQ(std::getenv("SDL_VIDEO_X11_WMCLASS"), nullptr) << "left set for the program";

    std::thread waker([&] {
      std::this_thread::sleep_for(50ms);
      window->wake();
    });
    WindowEvent event;
    do event = window->waitEvent(5000);
    while (event != WindowEvent::Woken && event != WindowEvent::TimedOut);
    waker.join();
    EXPECT_EQ(event, WindowEvent::Woken);
    EXPECT_EQ(window->waitEvent(30), WindowEvent::TimedOut);

    x.requestClose(id);
    for (int i = 0; i < 500 && event != WindowEvent::Closed; ++i) event = window->waitEvent(20);
    EXPECT_EQ(event, WindowEvent::Closed);
    bool closed = false;
    for (InputEvent e; window->input().poll(e);) closed = closed || e.type == InputEventType::Close;
    EXPECT_TRUE(closed);
    EXPECT_TRUE(window->getFailure().empty());
    EXPECT_THROW(SdlWindow::create(options("second", 1)), std::runtime_error);
  }
  WindowOptions o = options("full", 3);
  o.fullscreen = true;
  auto window = SdlWindow::create(o);
  window->show();
  ASSERT_TRUE(runUntil(*window, [&] {
    return window->getClientWidth() == uint32_t(DisplayWidth(d, DefaultScreen(d)));
  })) << window->getClientWidth();
  EXPECT_EQ(window->getSurfaceWidth(), window->getClientWidth() / 3);
}

TEST(SdlWindowTest, WithoutADisplaySaysSo) {
  ScopedEnvironment environment({{"SDL_VIDEODRIVER", std::nullopt},
                                 {"DISPLAY", std::nullopt},
                                 {"WAYLAND_DISPLAY", std::nullopt},
                                 {"XDG_RUNTIME_DIR", "/nonexistent"}});
  try {
    SdlWindow::create(options("nowhere", 1));
    ADD_FAILURE() << "a window without a display";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("SDL cannot open a window"), std::string::npos)
        << e.what();
  }
  WindowOptions empty = options("empty", 1);
  empty.width = 0;
  EXPECT_THROW(SdlWindow::create(empty), std::invalid_argument);
}

// A Wayland compositor for a test: weston on a virtual X server (its
// headless backend offers no seat, without which SDL 2.26's Wayland driver
// does not start), drawing with pixman, each window made full screen
// (kiosk shell), its screenshots allowed.
class Weston {
 public:
  explicit Weston(uint32_t width = kWidth, uint32_t height = kHeight) {
    if (!x_.display() || !fs::exists("/usr/bin/weston")) return;
    char folder[] = "/tmp/nubrik-weston-XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    runtimeDir_ = folder;
    socket_ = "nubrik-test-" + std::to_string(getpid());
    process_ = spawn({"/usr/bin/weston", "--no-config", "--backend=x11-backend.so", "--use-pixman",
                      "--socket=" + socket_, "--shell=kiosk-shell.so", "--idle-time=0", "--debug",
                      "--width=" + std::to_string(width), "--height=" + std::to_string(height)},
                     runtimeDir_,
                     {"DISPLAY=" + x_.name(), "XDG_RUNTIME_DIR=" + runtimeDir_, "WAYLAND_DISPLAY"});
    for (int i = 0; i < 1000 && process_.pid > 0; ++i) {
      if (fs::exists(runtimeDir_ + "/" + socket_ + ".lock") &&
          fs::exists(runtimeDir_ + "/" + socket_)) {
        ready_ = true;
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  ~Weston() {
    if (process_.pid > 0) {
      kill(process_.pid, SIGTERM);
      process_.wait(5);
    }
    std::error_code ignored;
    if (!runtimeDir_.empty()) fs::remove_all(runtimeDir_, ignored);
  }
  Weston(const Weston&) = delete;
  Weston& operator=(const Weston&) = delete;

  static constexpr uint32_t kWidth = 480, kHeight = 320;
  bool ready() const { return ready_; }
  // Environment variables that send a program there.
  std::vector<std::string> environment() const {
    return {"WAYLAND_DISPLAY=" + socket_, "XDG_RUNTIME_DIR=" + runtimeDir_, "DISPLAY",
            "SDL_VIDEODRIVER"};
  }
  const std::string& socket() const { return socket_; }
  const std::string& runtimeDir() const { return runtimeDir_; }
  std::string log() const { return process_.output(); }
  bool running() { return process_.pid > 0 && waitpid(process_.pid, nullptr, WNOHANG) == 0; }

  // The whole output, through weston's screenshot protocol; null where it
  // is not offered.
  std::shared_ptr<Image> screenshot() {
    const std::string folder = runtimeDir_ + "/shots";
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
    auto shooter = spawn({"/usr/bin/weston-screenshooter"}, folder,
                         {"XDG_RUNTIME_DIR=" + runtimeDir_, "WAYLAND_DISPLAY=" + socket_});
    if (shooter.pid <= 0 || shooter.wait(10) != 0) return nullptr;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() == ".png") return loadImageFromFile(entry.path().string());
    }
    return nullptr;
  }

 private:
  VirtualDisplay x_;
  std::string runtimeDir_;
  std::string socket_;
  testing::Process process_;
  bool ready_ = false;
};

// The screenshot's pixels (PNG RGB, bytes blue first) as 0x00RRGGBB words.
std::shared_ptr<Image> words(const Image& rgb) {
  const uint32_t bytes = bytesPerPixel(rgb.getPixelFormat());
  auto out = std::make_shared<Image>(rgb.getWidth(), rgb.getHeight(), PixelFormat::Rgbx);
  for (uint32_t y = 0; y < rgb.getHeight(); ++y) {
    const uint8_t* in = rgb.lockConst() + y * rgb.getPitch();
    auto* row = reinterpret_cast<uint32_t*>(out->lock() + y * out->getPitch());
    for (uint32_t x = 0; x < rgb.getWidth(); ++x, in += bytes) {
      row[x] = uint32_t{in[2]} << 16 | uint32_t{in[1]} << 8 | in[0];
    }
  }
  return out;
}

// Under a Wayland compositor the window opens, is resized by it (full
// screen), composes random scenes equal to the in-memory window's (and to
// what the compositor shows, where it takes screenshots) and closes, the
// compositor going on.
TEST(SdlWaylandTest, OpensResizesComposesAndClosesUnderWeston) {
#ifdef __SANITIZE_ADDRESS__
  // What SDL's Wayland driver, libdecor and Mesa keep to the end is
  // theirs, not this window's leak.
  __lsan::ScopedDisabler theirs;
#endif
  Weston weston;
  if (!weston.ready()) GTEST_SKIP() << "no weston on a virtual X server here";
  ScopedEnvironment environment({{"SDL_VIDEODRIVER", "wayland"},
                                 {"WAYLAND_DISPLAY", weston.socket()},
                                 {"XDG_RUNTIME_DIR", weston.runtimeDir()},
                                 {"DISPLAY", std::nullopt}});
  constexpr uint32_t kScale = 2;
  {
    WindowOptions o = options("wayland", kScale);
    // The compositor draws no pointer over it in its screenshots.
    o.hiddenCursor = true;
    auto window = SdlWindow::create(o);
    ASSERT_EQ(window->getDriverName(), "wayland");
    window->show();
    // The kiosk shell gives every window the whole output.
    ASSERT_TRUE(runUntil(*window,
                         [&] {
                           return window->getClientWidth() == Weston::kWidth &&
                                  window->getClientHeight() == Weston::kHeight;
                         }))
        << window->getClientWidth() << " x " << window->getClientHeight() << "\n"
        << weston.log();
    bool resized = false;
    for (InputEvent e; window->input().poll(e);) {
      if (e.type != InputEventType::Resize) continue;
      EXPECT_EQ(e.width, Weston::kWidth / kScale);
      EXPECT_EQ(e.height, Weston::kHeight / kScale);
      resized = true;
    }
    EXPECT_TRUE(resized);
    bool shot = false;
    runDifferential(*window, 60, /*resizes=*/false, [&](const Image& picture) {
      auto screen = weston.screenshot();
      if (!screen) return;  // no screenshot protocol: the surface alone
      shot = true;
      ASSERT_EQ(screen->getWidth(), picture.getWidth());
      ASSERT_EQ(screen->getHeight(), picture.getHeight());
      EXPECT_EQ(difference(*words(*screen), picture, 1), "")
          << "the compositor against the surface";
    });
    if (!shot) std::printf("weston took no screenshot: the surface alone was compared\n");
  }
  EXPECT_TRUE(weston.running()) << weston.log();
  // And the compositor still serves a window.
  auto again = SdlWindow::create(options("wayland again", 1));
  again->show();
  settle(*again);
  EXPECT_TRUE(again->getFailure().empty());
}

bool showsColour(const Image& rgb, uint32_t colour) {
  const auto picture = words(rgb);
  for (uint32_t y = 0; y < picture->getHeight(); ++y) {
    const auto* row =
        reinterpret_cast<const uint32_t*>(picture->lockConst() + y * picture->getPitch());
    if (std::find(row, row + picture->getWidth(), colour) != row + picture->getWidth()) return true;
  }
  return false;
}

// NUBRIK_WINDOW=sdl runs the examples and the demonstration unchanged under
// a Wayland compositor (SDL picks its Wayland driver where there is no X
// display): each shows its picture there, and input_events says where it is.
TEST(SdlWaylandTest, ExamplesAndTheDemonstrationRunUnderWeston) {
  Weston weston(1024, 768);
  if (!weston.ready()) GTEST_SKIP() << "no weston on a virtual X server here";
  if (!weston.screenshot()) GTEST_SKIP() << "weston takes no screenshots here";
  std::vector<std::string> environment = weston.environment();
  environment.push_back("NUBRIK_WINDOW=sdl");
  const struct {
    std::vector<std::string> argv;
    uint32_t colour;  // something of its picture
  } programs[] = {
      {{"input_events", "--print-backend"}, 0x282C34},
      {{"arrows"}, 0xFFBE00},
      {{"nubrik"}, 0xFF0000},
  };
  for (const auto& p : programs) {
    SCOPED_TRACE(p.argv[0]);
    std::vector<std::string> argv = p.argv;
    argv[0] = std::string(NUBRIK_RUN_DIR) + "/" + argv[0];
    auto program = spawn(argv, NUBRIK_RUN_DIR, environment);
    bool shown = false;
    for (int i = 0; i < 50 && !shown; ++i) {
      std::this_thread::sleep_for(100ms);
      auto screen = weston.screenshot();
      shown = screen && showsColour(*screen, p.colour);
    }
    EXPECT_TRUE(shown) << program.output();
    if (p.argv[0] == "input_events") {
      // The first line of all.
      const std::string output = program.output();
      EXPECT_EQ(output.find(R"({"type":"backend","name":"sdl","driver":"wayland"})"),
                output.find(R"({"type":)"))
          << output;
    }
    kill(program.pid, SIGTERM);
    program.wait(10);
  }
}

const char* const kButtonNames[] = {"a",
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
                                    "dpad_right"};
const char* const kAxisNames[] = {"left_x",  "left_y",       "right_x",
                                  "right_y", "left_trigger", "right_trigger"};

// Gamepads through SDL's virtual joystick, on an in-memory window: the
// gamepad arrives with its name, every button goes down and up and every
// axis moves, in order, with the standard layout's names and values in
// range, the polled state following; unplugged, it leaves nothing held.
TEST(SdlGamepadTest, EveryButtonAndAxisArrivesInOrder) {
#if !SDL_VERSION_ATLEAST(2, 24, 0)
  GTEST_SKIP() << "SDL before 2.24 has no virtual joystick to test with";
#else
  MemoryWindow window(16, 16);
  attachGamepads(window);
  SdlSubsystem joysticks(SDL_INIT_JOYSTICK, "joysticks for the test");
  SDL_VirtualJoystickDesc description{};
  description.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  description.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  description.naxes = SDL_CONTROLLER_AXIS_MAX;
  description.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  description.name = "Nubrik test pad";
  const int index = SDL_JoystickAttachVirtualEx(&description);
  ASSERT_GE(index, 0) << SDL_GetError();
  SDL_Joystick* joystick = SDL_JoystickOpen(index);
  ASSERT_NE(joystick, nullptr) << SDL_GetError();
  const SDL_JoystickID id = SDL_JoystickInstanceID(joystick);

  // The next event, waiting at most 5 s; its type is Close when none came.
  auto next = [&] {
    InputEvent event;
    for (int i = 0; i < 500; ++i) {
      if (window.input().poll(event)) return event;
      std::this_thread::sleep_for(10ms);
    }
    return InputEvent{};
  };
  InputEvent added = next();
  ASSERT_EQ(added.type, InputEventType::GamepadAdded);
  EXPECT_EQ(added.gamepad, id);
  EXPECT_STREQ(added.gamepadName, "Nubrik test pad");
  EXPECT_EQ(window.input().getGamepads(), std::vector<int32_t>{id});
  // Whatever the virtual pad starts with comes now.
  std::this_thread::sleep_for(100ms);
  for (InputEvent e; window.input().poll(e);) ASSERT_EQ(e.type, InputEventType::GamepadAxisMoved);

  for (int b = 0; b < int(kGamepadButtonCount); ++b) {
    for (const bool down : {true, false}) {
      SDL_JoystickSetVirtualButton(joystick, b, down ? SDL_PRESSED : SDL_RELEASED);
      const InputEvent e = next();
      ASSERT_EQ(e.type, down ? InputEventType::GamepadButtonDown : InputEventType::GamepadButtonUp)
          << "button " << b;
      EXPECT_EQ(e.gamepad, id);
      EXPECT_EQ(gamepadButtonName(e.gamepadButton), kButtonNames[b]);
      EXPECT_EQ(window.input().isGamepadButtonDown(id, e.gamepadButton), down);
    }
  }
  std::mt19937 random(7);
  for (int a = 0; a < int(kGamepadAxisCount); ++a) {
    const bool trigger = a >= SDL_CONTROLLER_AXIS_TRIGGERLEFT;
    // Sticks anywhere; triggers fully pressed and released (their raw
    // range maps onto 0 to 1).
    std::vector<int16_t> values = {-32768, 32767, 0};
    for (int i = 0; i < 4; ++i) values.push_back(static_cast<int16_t>(random()));
    if (trigger) values = {32767, -32768, 32767, -32768};
    for (const int16_t value : values) {
      SDL_JoystickSetVirtualAxis(joystick, a, value);
      const InputEvent e = next();
      ASSERT_EQ(e.type, InputEventType::GamepadAxisMoved) << "axis " << a << " at " << value;
      EXPECT_EQ(gamepadAxisName(e.gamepadAxis), kAxisNames[a]);
      const float expected =
          trigger ? (value > 0 ? 1.0f : 0.0f) : std::max(value / 32767.0f, -1.0f);
      EXPECT_FLOAT_EQ(e.value, expected) << "axis " << a << " at " << value;
      EXPECT_GE(e.value, trigger ? 0.0f : -1.0f);
      EXPECT_LE(e.value, 1.0f);
      EXPECT_FLOAT_EQ(window.input().getGamepadAxis(id, e.gamepadAxis), e.value);
    }
  }

  // Unplugged with a button held: released, then gone.
  SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_START, SDL_PRESSED);
  ASSERT_EQ(next().type, InputEventType::GamepadButtonDown);
  SDL_JoystickClose(joystick);
  ASSERT_EQ(SDL_JoystickDetachVirtual(index), 0) << SDL_GetError();
  bool released = false;
  InputEvent e;
  for (e = next(); e.type != InputEventType::GamepadRemoved && e.type != InputEventType::Close;
       e = next()) {
    released = released || (e.type == InputEventType::GamepadButtonUp &&
                            e.gamepadButton == GamepadButton::Start);
  }
  ASSERT_EQ(e.type, InputEventType::GamepadRemoved);
  EXPECT_EQ(e.gamepad, id);
  EXPECT_STREQ(e.gamepadName, "Nubrik test pad");
  EXPECT_TRUE(released);
  EXPECT_TRUE(window.input().getGamepads().empty());
  EXPECT_FALSE(window.input().isGamepadButtonDown(id, GamepadButton::Start));
#endif
}

}  // namespace
}  // namespace nubrik
