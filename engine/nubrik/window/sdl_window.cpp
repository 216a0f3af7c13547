#include "nubrik/window/sdl_window.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "nubrik/text/utf8.h"
#include "nubrik/window/pixel_scaling.h"
#include "nubrik/window/sdl_device_context.h"
#include "nubrik/window/sdl_keyboard.h"
#include "nubrik/window/sdl_library.h"

namespace nubrik {

namespace {

// The codes of the window's own events.
constexpr int32_t kWake = 1;
constexpr int32_t kPresent = 2;
// What most window systems take for a side.
constexpr uint64_t kMaxSide = 32767;

// One SDL window at a time: SDL's event queue is the program's.
std::atomic<bool> gWindowOpen{false};

uint32_t ownEventType() {
  static const uint32_t type = SDL_RegisterEvents(1);
  return type;
}

// The drivers that have a framebuffer of their own; SDL draws a texture
// for the others.
bool hasOwnFramebuffer(const std::string& driver) {
  return driver == "x11" || driver == "windows" || driver == "offscreen" || driver == "dummy";
}

bool printable(uint32_t c) { return c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0); }

// SDL takes the window's class from the environment (X11's WM_CLASS,
// Wayland's application identifier) when its video starts. Set for that
// moment only, unless the user set it.
class ClassFromEnvironment {
 public:
  explicit ClassFromEnvironment(const std::string& className) {
#ifndef _WIN32  // where neither driver runs
    for (const char* name : {"SDL_VIDEO_X11_WMCLASS", "SDL_VIDEO_WAYLAND_WMCLASS"}) {
      if (className.empty() || std::getenv(name) != nullptr) continue;
      setenv(name, className.c_str(), 1);
      set_.push_back(name);
    }
#else
    (void)className;
#endif
  }
  ~ClassFromEnvironment() {
#ifndef _WIN32
    for (const char* name : set_) unsetenv(name);
#endif
  }

 private:
  std::vector<const char*> set_;
};

std::string noWindowReason() {
  std::string why = SDL_GetError();
  if (why.find("No available video device") != std::string::npos) {
    why +=
        " (no X display or Wayland compositor answers here: DISPLAY, WAYLAND_DISPLAY and "
        "SDL_VIDEODRIVER say where to look)";
  }
  return why;
}

std::optional<PointerButton> pointerButton(uint8_t button) {
  switch (button) {
    case SDL_BUTTON_LEFT:
      return PointerButton::Left;
    case SDL_BUTTON_MIDDLE:
      return PointerButton::Middle;
    case SDL_BUTTON_RIGHT:
      return PointerButton::Right;
    case SDL_BUTTON_X1:
      return PointerButton::X1;
    case SDL_BUTTON_X2:
      return PointerButton::X2;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::unique_ptr<SdlWindow> SdlWindow::create(const WindowOptions& options) {
  const uint32_t scale = options.scale;
  checkScale(scale);
  const uint64_t width = uint64_t{options.width} * scale, height = uint64_t{options.height} * scale;
  if (options.width == 0 || options.height == 0 || width > kMaxSide || height > kMaxSide) {
    throw std::invalid_argument("an SDL window is 1 to 32767 pixels wide and high, not " +
                                std::to_string(width) + " x " + std::to_string(height));
  }
  if (gWindowOpen.exchange(true)) {
    throw std::runtime_error(
        "an SDL window is already open in this program: SDL windows come one at a time");
  }
  struct Opened {
    bool keep = false;
    ~Opened() {
      if (!keep) gWindowOpen = false;
    }
  } opened;

  std::unique_ptr<SdlSubsystem> video;
  {
    // SDL's drivers read the class when they start.
    ClassFromEnvironment className(options.className);
    video = std::make_unique<SdlSubsystem>(SDL_INIT_VIDEO, "SDL cannot open a window");
  }
  std::string driver;
  SDL_Window* window = nullptr;
  {
    std::lock_guard lock(sdlLock());
    const char* name = SDL_GetCurrentVideoDriver();
    driver = name != nullptr ? name : "";
    // SDL falls back on drivers that show nothing when it finds no display;
    // those are for who asks for them.
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if ((driver == "offscreen" || driver == "dummy") &&
        (asked == nullptr || std::string_view(asked).find(driver) == std::string_view::npos)) {
      throw std::runtime_error(
          "SDL cannot open a window: no video device (SDL found no X display, Wayland "
          "compositor or console display here; SDL_VIDEODRIVER=" +
          driver + " runs without showing anything)");
    }
    // X11's shared-memory framebuffer shows the engine's pixels as they
    // are; SDL would otherwise draw them as a texture with OpenGL. Drivers
    // without a framebuffer of their own get SDL's texture. The user's
    // environment decides where it says.
    if (std::getenv(SDL_HINT_FRAMEBUFFER_ACCELERATION) == nullptr) {
      SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, hasOwnFramebuffer(driver) ? "0" : nullptr);
    }
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (options.resizable) flags |= SDL_WINDOW_RESIZABLE;
    if (options.fullscreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
    if (options.position && !options.fullscreen) {
      x = options.position->x;
      y = options.position->y;
    }
    window = SDL_CreateWindow(options.title.c_str(), x, y, static_cast<int>(width),
                              static_cast<int>(height), flags);
  }
  if (window == nullptr) {
    throw std::runtime_error("SDL cannot make the window \"" + options.title +
                             "\": " + noWindowReason());
  }
  std::unique_ptr<SdlWindow> result;
  try {
    result.reset(new SdlWindow(std::move(video), window, options, driver));
  } catch (...) {
    SDL_DestroyWindow(window);
    throw;
  }
  opened.keep = true;
  if (options.gamepads) {
    // A window without gamepads rather than none.
    try {
      attachGamepads(*result);
    } catch (const std::runtime_error&) {
    }
  }
  return result;
}

SdlWindow::SdlWindow(std::unique_ptr<SdlSubsystem> video, SDL_Window* window,
                     const WindowOptions& options, std::string driver)
    : video_(std::move(video)),
      window_(window),
      windowId_(SDL_GetWindowID(window)),
      driver_(std::move(driver)),
      scale_(options.scale),
      resizable_(options.resizable),
      fullscreen_(options.fullscreen),
      hiddenCursor_(options.hiddenCursor),
      // SDL draws a texture elsewhere, whose renderer takes the window's
      // size when it is made: made before the compositor has sized the
      // window, it keeps the wrong one (SDL 2.26 on Wayland).
      ownFramebuffer_(hasOwnFramebuffer(driver_)) {
  ownEventType();
  if (resizable_) {
    SDL_SetWindowMinimumSize(window_, static_cast<int>(scale_), static_cast<int>(scale_));
  }
  if (hiddenCursor_) SDL_ShowCursor(SDL_DISABLE);
  dc_ = std::make_unique<SdlDeviceContext>(window_, scale_, [this] { post(kPresent); });
  if (ownFramebuffer_) {
    dc_->takeSurface();
    surfaceTaken_ = true;
    takeCanvasSize();
  } else {
    takeWindowSize();
  }
  uint32_t surfaceWidth = options.width, surfaceHeight = options.height;
  if (resizable_ || fullscreen_) {
    surfaceForClient(clientWidth_.load(), clientHeight_.load(), scale_, surfaceWidth,
                     surfaceHeight);
  }
  surfaceWidth_ = surfaceWidth;
  surfaceHeight_ = surfaceHeight;
  dc_->surfaceResized(surfaceWidth, surfaceHeight);
}

SdlWindow::~SdlWindow() {
  endInputSources();
  if (hiddenCursor_) SDL_ShowCursor(SDL_ENABLE);
  dc_.reset();
  // SDL wakes its own waits by sending the window an event, on a connection
  // of its own on X11: one may still be on its way (SDL sends one for the
  // close request it reports, from inside its wait). Hidden first (SDL waits
  // for the server to unmap it, which reads what came before), the window
  // is destroyed after the server has delivered it, not before, which would
  // be an X error that ends the program.
  SDL_HideWindow(window_);
  SDL_PumpEvents();
  SDL_DestroyWindow(window_);
  // Wake-ups meant for this window are not the next one's.
  SDL_FlushEvent(ownEventType());
  video_.reset();
  gWindowOpen = false;
}

void SdlWindow::takeCanvasSize() {
  clientWidth_ = std::max<uint32_t>(dc_->getCanvasWidth(), 1);
  clientHeight_ = std::max<uint32_t>(dc_->getCanvasHeight(), 1);
}

void SdlWindow::takeWindowSize() {
  int width = 0, height = 0;
  SDL_GetWindowSize(window_, &width, &height);
  clientWidth_ = static_cast<uint32_t>(std::max(width, 1));
  clientHeight_ = static_cast<uint32_t>(std::max(height, 1));
}

IDeviceContext* SdlWindow::getDC() { return dc_.get(); }

void SdlWindow::releaseDC(IDeviceContext*) {}

Point SdlWindow::getCursorPosition() const {
  if (!pointerInside_.load()) return Point{-1, -1};
  return Point{cursorX_.load(), cursorY_.load()};
}

bool SdlWindow::composesInPlace() const { return dc_->composesInPlace(); }

std::shared_ptr<Image> SdlWindow::capture() const { return dc_->capture(std::chrono::seconds(1)); }

void SdlWindow::show() { SDL_ShowWindow(window_); }

void SdlWindow::post(int32_t code) {
  SDL_Event event{};
  event.type = ownEventType();
  event.user.windowID = windowId_;
  event.user.code = code;
  SDL_PushEvent(&event);
}

void SdlWindow::wake() {
  woken_ = true;
  if (!wakePosted_.exchange(true)) post(kWake);
}

void SdlWindow::fail(const std::string& why) {
  std::lock_guard lock(failureLock_);
  if (failure_.empty()) failure_ = why;
}

std::string SdlWindow::getFailure() const {
  std::lock_guard lock(failureLock_);
  return failure_;
}

int32_t SdlWindow::toSurface(int32_t windowCoordinate) const {
  return windowToSurface(windowCoordinate, scale_);
}

SdlWindow::WindowEvent SdlWindow::waitEvent(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool queuedInput = false;
  while (true) {
    if (!getFailure().empty()) return WindowEvent::Failed;
    SDL_Event event;
    bool have = SDL_PollEvent(&event) == 1;
    if (!have) {
      if (queuedInput || pendingInput_) {
        pendingInput_ = false;
        return WindowEvent::Input;
      }
      int waitMs = -1;
      if (timeoutMs != kForever) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return WindowEvent::TimedOut;
        waitMs = static_cast<int>(std::min<int64_t>(left, INT32_MAX));
      }
      have = SDL_WaitEventTimeout(&event, waitMs) == 1;
      if (!have) continue;
    }
    Handled handled;
    try {
      handled = handle(event);
    } catch (const std::runtime_error& e) {
      // SDL refused the window a surface: it cannot show anything.
      if (getFailure().empty() && std::string_view(e.what()).find("SDL gives") == 0) {
        fail(e.what());
        return WindowEvent::Failed;
      }
      throw;
    }
    switch (handled) {
      case Handled::Input:
        queuedInput = true;
        break;
      case Handled::Redraw:
        pendingInput_ = pendingInput_ || queuedInput;
        return WindowEvent::Redraw;
      case Handled::Closed:
        pendingInput_ = true;
        return WindowEvent::Closed;
      case Handled::Woken:
        pendingInput_ = pendingInput_ || queuedInput;
        return WindowEvent::Woken;
      case Handled::Nothing:
        break;
    }
  }
}

SdlWindow::Handled SdlWindow::handle(const SDL_Event& event) {
  if (event.type == ownEventType()) {
    if (event.user.windowID != windowId_) return Handled::Nothing;
    if (event.user.code == kPresent) {
      if (!dc_->present()) return Handled::Nothing;
      surfaceTaken_ = true;
      takeCanvasSize();
      return Handled::Redraw;
    }
    wakePosted_ = false;
    return woken_.exchange(false) ? Handled::Woken : Handled::Nothing;
  }
  switch (event.type) {
    case SDL_WINDOWEVENT:
      if (event.window.windowID != windowId_) return Handled::Nothing;
      return handleWindowEvent(event);
    case SDL_RENDER_TARGETS_RESET:
    case SDL_RENDER_DEVICE_RESET:
      // The texture that showed the surface is gone: a new one, drawn anew.
      return dc_->takeSurface() ? Handled::Redraw : Handled::Nothing;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      if (event.key.windowID != windowId_ && event.key.windowID != 0) return Handled::Nothing;
      const SDL_Keysym& keysym = event.key.keysym;
      const Key key = keyForScancode(keysym.scancode);
      const uint8_t mods = modifiersFromSdl(keysym.mod);
      const std::string label = labelForScancode(keysym.scancode, key);
      if (event.type == SDL_KEYDOWN) {
        lastKeyMods_ = mods;
        const bool repeat =
            event.key.repeat != 0 || (key != Key::Unknown && input().isKeyDown(key));
        input().push(InputEvent::keyDown(key, repeat, mods, label));
      } else {
        // Released when the focus went.
        if (key != Key::Unknown && !input().isKeyDown(key)) return Handled::Nothing;
        input().push(InputEvent::keyUp(key, mods, label));
      }
      return Handled::Input;
    }
    case SDL_TEXTINPUT: {
      if (event.text.windowID != windowId_ && event.text.windowID != 0) return Handled::Nothing;
      // What a key types, unless it is a shortcut (Control or Alt held).
      if (hasModifier(lastKeyMods_, Modifier::Control) ||
          hasModifier(lastKeyMods_, Modifier::Alt)) {
        return Handled::Nothing;
      }
      const std::string_view text(event.text.text);
      bool queued = false;
      for (size_t i = 0; i < text.size();) {
        const char32_t c = decodeUtf8(text, i);
        if (!printable(c) || c == kReplacementCharacter) continue;
        input().push(InputEvent::character(c));
        queued = true;
      }
      return queued ? Handled::Input : Handled::Nothing;
    }
    case SDL_MOUSEMOTION:
      if (event.motion.windowID != windowId_) return Handled::Nothing;
      cursorX_ = event.motion.x;
      cursorY_ = event.motion.y;
      input().push(InputEvent::motion(toSurface(event.motion.x), toSurface(event.motion.y)));
      return Handled::Input;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      if (event.button.windowID != windowId_) return Handled::Nothing;
      const auto button = pointerButton(event.button.button);
      if (!button) return Handled::Nothing;
      const int32_t x = toSurface(event.button.x), y = toSurface(event.button.y);
      const uint8_t mods = modifiersFromSdl(SDL_GetModState());
      input().push(event.type == SDL_MOUSEBUTTONDOWN ? InputEvent::buttonDown(*button, x, y, mods)
                                                     : InputEvent::buttonUp(*button, x, y, mods));
      return Handled::Input;
    }
    case SDL_MOUSEWHEEL: {
      if (event.wheel.windowID != windowId_) return Handled::Nothing;
      const float flip = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f;
      input().push(InputEvent::wheel(flip * event.wheel.preciseX, flip * event.wheel.preciseY));
      return Handled::Input;
    }
    default:
      // Gamepads come through attachGamepads, from SDL's queue as it fills.
      return Handled::Nothing;
  }
}

SdlWindow::Handled SdlWindow::handleWindowEvent(const SDL_Event& event) {
  switch (event.window.event) {
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_RESTORED:
      shown_ = true;
      if (!surfaceTaken_) return resized();
      // The surface holds the picture: shown again, not composed again.
      return dc_->present(true) ? Handled::Redraw : Handled::Nothing;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      return resized();
    case SDL_WINDOWEVENT_ENTER:
      if (input().isPointerInside()) return Handled::Nothing;
      pointerInside_ = true;
      input().push(InputEvent::simple(InputEventType::Enter));
      return Handled::Input;
    case SDL_WINDOWEVENT_LEAVE:
      pointerInside_ = false;
      if (!input().isPointerInside()) return Handled::Nothing;
      input().push(InputEvent::simple(InputEventType::Leave));
      return Handled::Input;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      if (input().hasFocus()) return Handled::Nothing;
      input().push(InputEvent::simple(InputEventType::FocusGained));
      return Handled::Input;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      if (!input().hasFocus()) return Handled::Nothing;
      input().push(InputEvent::simple(InputEventType::FocusLost));
      return Handled::Input;
    case SDL_WINDOWEVENT_CLOSE:
      input().push(InputEvent::simple(InputEventType::Close));
      return Handled::Closed;
    default:
      return Handled::Nothing;
  }
}

SdlWindow::Handled SdlWindow::resized() {
  // SDL's surface for the old size is not shown any more; until the frame
  // being composed ends, frames still write into it. Where SDL draws a
  // texture, the first surface waits for the window to be shown.
  const bool took = (ownFramebuffer_ || shown_) && dc_->takeSurface();
  surfaceTaken_ = surfaceTaken_ || took;
  if (took) {
    takeCanvasSize();
  } else {
    takeWindowSize();
  }
  bool queued = false;
  // A window that is not resizable keeps its surface, whatever is done to
  // it from outside.
  if (resizable_ || fullscreen_) {
    uint32_t surfaceWidth, surfaceHeight;
    surfaceForClient(clientWidth_.load(), clientHeight_.load(), scale_, surfaceWidth,
                     surfaceHeight);
    if (surfaceWidth != surfaceWidth_.load() || surfaceHeight != surfaceHeight_.load()) {
      surfaceWidth_ = surfaceWidth;
      surfaceHeight_ = surfaceHeight;
      dc_->surfaceResized(surfaceWidth, surfaceHeight);
      try {
        surfaceResized(surfaceWidth, surfaceHeight);
      } catch (...) {
        // The Resize event is queued: the next look reports it.
        pendingInput_ = true;
        throw;
      }
      queued = true;
    }
  }
  if (took) {
    // The new surface is black: the picture is composed again.
    pendingInput_ = pendingInput_ || queued;
    return Handled::Redraw;
  }
  return queued ? Handled::Input : Handled::Nothing;
}

}  // namespace nubrik
