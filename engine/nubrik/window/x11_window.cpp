#include "nubrik/window/x11_window.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <errno.h>  // program_invocation_short_name
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <vector>

#include "nubrik/window/pixel_scaling.h"
#include "nubrik/window/window_options.h"
#include "nubrik/window/x11_connection.h"
#include "nubrik/window/x11_device_context.h"
#include "nubrik/window/x11_keyboard.h"
#include "nubrik/window/x11_pixel_format.h"

namespace nubrik {

namespace {

constexpr const char* kDestroyed = "the window was destroyed from outside";
// The X protocol's window sizes are 16-bit signed.
constexpr uint32_t kMaxSide = 32767;

// A pointer shape with nothing to show.
Cursor blankCursor(Display* display, Window root) {
  char zero = 0;
  const Pixmap empty = XCreateBitmapFromData(display, root, &zero, 1, 1);
  XColor black{};
  const Cursor cursor = XCreatePixmapCursor(display, empty, empty, &black, &black, 0, 0);
  XFreePixmap(display, empty);
  return cursor;
}

bool printable(uint32_t c) { return c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0); }

// A modifier key's own press or release, which the event's state (taken
// before the event) does not show yet.
uint8_t withOwnModifier(uint8_t mods, Key key, bool press, const InputQueue& input) {
  struct Side {
    Key left, right;
    Modifier modifier;
  };
  constexpr Side kSides[] = {{Key::LeftShift, Key::RightShift, Modifier::Shift},
                             {Key::LeftControl, Key::RightControl, Modifier::Control},
                             {Key::LeftAlt, Key::RightAlt, Modifier::Alt},
                             {Key::LeftSuper, Key::RightSuper, Modifier::Super}};
  for (const Side& side : kSides) {
    if (key != side.left && key != side.right) continue;
    const Key other = key == side.left ? side.right : side.left;
    const auto bit = static_cast<uint8_t>(side.modifier);
    if (press || input.isKeyDown(other)) {
      mods |= bit;
    } else {
      mods &= static_cast<uint8_t>(~bit);
    }
  }
  return mods;
}

}  // namespace

std::unique_ptr<X11Window> X11Window::create(const std::string& title, const std::string& className,
                                             uint32_t width, uint32_t height,
                                             X11WindowOptions options) {
  WindowOptions window;
  window.title = title;
  window.className = className;
  window.width = width;
  window.height = height;
  return create(window, std::move(options));
}

std::unique_ptr<X11Window> X11Window::create(const WindowOptions& options, X11WindowOptions x11) {
  // Worker threads present while the message loop runs.
  XInitThreads();
  const char* fromEnvironment = std::getenv("DISPLAY");
  const std::string name =
      !x11.display.empty() ? x11.display : (fromEnvironment != nullptr ? fromEnvironment : "");
  if (name.empty()) {
    throw std::runtime_error("no X display to open: none was given and DISPLAY is not set");
  }
  const std::string where = "the X display \"" + name + "\"";
  auto failure = std::make_shared<X11Failure>();
  auto main = X11Connection::open(name.c_str(), failure);
  if (!main) {
    throw std::runtime_error("cannot open " + where +
                             ": no X server answers there, or it refuses this program");
  }
  Display* display = main->get();
  const int screen = DefaultScreen(display);
  // Refused before anything is shown.
  try {
    X11PixelFormat::forVisual(display, DefaultVisual(display, screen),
                              DefaultDepth(display, screen));
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(where + ": " + e.what());
  }
  auto cursor = X11Connection::open(DisplayString(display), failure);
  if (!cursor) throw std::runtime_error("cannot open a second connection to " + where);

  const uint32_t scale = options.scale;
  checkScale(scale);
  uint64_t width = uint64_t{options.width} * scale, height = uint64_t{options.height} * scale;
  if (options.fullscreen) {
    width = static_cast<uint32_t>(DisplayWidth(display, screen));
    height = static_cast<uint32_t>(DisplayHeight(display, screen));
  }
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
    throw std::invalid_argument("an X11 window is 1 to 32767 pixels wide and high, not " +
                                std::to_string(width) + " x " + std::to_string(height) +
                                (scale > 1 ? " (" + std::to_string(options.width) + " x " +
                                                 std::to_string(options.height) + " at scale " +
                                                 std::to_string(scale) + ")"
                                           : std::string()));
  }

  const Window root = RootWindow(display, screen);
  XSetWindowAttributes attributes{};
  // No background: the server never paints over the picture (no white flash).
  attributes.background_pixmap = None;
  attributes.cursor =
      options.hiddenCursor ? blankCursor(display, root) : XCreateFontCursor(display, XC_left_ptr);
  attributes.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask |
                          ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          EnterWindowMask | LeaveWindowMask | FocusChangeMask;
  const Window window =
      XCreateWindow(display, root, 0, 0, static_cast<unsigned>(width),
                    static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWBackPixmap | CWCursor | CWEventMask, &attributes);

  XStoreName(display, window, options.title.c_str());
  // The title in UTF-8 as well, for window managers that show more than
  // Latin-1.
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                  XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(options.title.data()),
                  static_cast<int>(options.title.size()));
  // The instance is the program, the class is the program's choice.
  std::string instance = program_invocation_short_name;
  XClassHint classHint{instance.data(), const_cast<char*>(options.className.c_str())};
  XSetClassHint(display, window, &classHint);
  XSizeHints* hints = XAllocSizeHints();
  if (hints != nullptr) {
    if (options.resizable) {
      // Whole surface pixels only, at least one.
      hints->flags = PMinSize | PResizeInc | PBaseSize;
      hints->min_width = hints->min_height = static_cast<int>(scale);
      hints->width_inc = hints->height_inc = static_cast<int>(scale);
      hints->base_width = hints->base_height = 0;
    } else {
      // The smallest and the largest size are the client size.
      hints->flags = PMinSize | PMaxSize;
      hints->min_width = hints->max_width = static_cast<int>(width);
      hints->min_height = hints->max_height = static_cast<int>(height);
    }
    XSetWMNormalHints(display, window, hints);
    XFree(hints);
  }
  if (options.fullscreen) {
    // Asked of the window manager before the window is mapped; without
    // one, the window already covers the screen from its corner.
    Atom state = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&state), 1);
  }

  auto result = std::unique_ptr<X11Window>(new X11Window(
      std::move(main), std::move(cursor), std::move(failure), window, static_cast<uint32_t>(width),
      static_cast<uint32_t>(height), scale, options.resizable, x11));
  XSetWMProtocols(display, window, &result->deleteWindow_, 1);
  // Whatever the server refused so far is known once it has answered.
  XSync(display, False);
  if (result->failure_->hasFailed()) {
    throw std::runtime_error(where + ": " + result->failure_->what());
  }
  return result;
}

X11Window::X11Window(std::unique_ptr<X11Connection> main, std::unique_ptr<X11Connection> cursor,
                     std::shared_ptr<X11Failure> failure, unsigned long window, uint32_t width,
                     uint32_t height, uint32_t scale, bool resizable, X11WindowOptions options)
    : failure_(std::move(failure)),
      main_(std::move(main)),
      cursor_(std::move(cursor)),
      display_(main_->get()),
      window_(window),
      deleteWindow_(XInternAtom(display_, "WM_DELETE_WINDOW", False)),
      width_(width),
      height_(height),
      scale_(scale),
      resizable_(resizable),
      options_(options),
      keyboard_(std::make_unique<X11Keyboard>(display_)) {
  uint32_t surfaceWidth, surfaceHeight;
  surfaceForClient(width, height, scale, surfaceWidth, surfaceHeight);
  surfaceWidth_ = surfaceWidth;
  surfaceHeight_ = surfaceHeight;
  // Held keys then repeat as presses alone, which tell themselves apart.
  Bool supported = False;
  detectableRepeat_ = XkbSetDetectableAutoRepeat(display_, True, &supported) && supported;
  openInputMethod();
  if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe_[0] = wakePipe_[1] = -1;
}

X11Window::~X11Window() {
  if (inputContext_ != nullptr) XDestroyIC(inputContext_);
  if (inputMethod_ != nullptr) XCloseIM(inputMethod_);
  if (!destroyed_) XDestroyWindow(display_, window_);
  cursor_.reset();
  main_.reset();
  for (int fd : wakePipe_) {
    if (fd >= 0) close(fd);
  }
}

void X11Window::openInputMethod() {
  if (!XSupportsLocale()) return;
  // The user's input method ($XMODIFIERS), else Xlib's own, which still
  // composes with dead keys.
  if (XSetLocaleModifiers("") != nullptr)
    inputMethod_ = XOpenIM(display_, nullptr, nullptr, nullptr);
  if (inputMethod_ == nullptr && XSetLocaleModifiers("@im=none") != nullptr) {
    inputMethod_ = XOpenIM(display_, nullptr, nullptr, nullptr);
  }
  if (inputMethod_ == nullptr) return;
  inputContext_ = XCreateIC(inputMethod_, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                            XNClientWindow, window_, XNFocusWindow, window_, nullptr);
  if (inputContext_ == nullptr) {
    XCloseIM(inputMethod_);
    inputMethod_ = nullptr;
    return;
  }
  // The input method may need events of its own.
  unsigned long filter = 0;
  XWindowAttributes attributes;
  if (XGetICValues(inputContext_, XNFilterEvents, &filter, nullptr) == nullptr && filter != 0 &&
      XGetWindowAttributes(display_, window_, &attributes)) {
    XSelectInput(display_, window_, attributes.your_event_mask | static_cast<long>(filter));
  }
}

IDeviceContext* X11Window::getDC() {
  // The window exists on the server once the creating connection is synced.
  XSync(display_, False);
  auto connection = X11Connection::open(DisplayString(display_), failure_);
  if (!connection) {
    failure_->report(std::string("cannot open another connection to the X server ") +
                     DisplayString(display_) + " to draw on the window");
    return nullptr;
  }
  try {
    auto* dc = new X11DeviceContext(std::move(connection), window_, surfaceWidth_.load(),
                                    surfaceHeight_.load(), options_.sharedMemory, scale_);
    std::lock_guard lock(noteLock_);
    slowPathReason_ = dc->usesSharedMemory() ? std::string() : dc->socketReason();
    return dc;
  } catch (const std::exception&) {
    return nullptr;
  }
}

void X11Window::releaseDC(IDeviceContext* dc) { delete dc; }

Point X11Window::getCursorPosition() const {
  std::lock_guard lock(cursorLock_);
  Window root, child;
  int rootX = 0, rootY = 0, x = 0, y = 0;
  unsigned mask = 0;
  if (failure_->hasFailed() ||
      !XQueryPointer(cursor_->get(), window_, &root, &child, &rootX, &rootY, &x, &y, &mask)) {
    return Point{-1, -1};  // outside the window
  }
  return Point{x, y};
}

void X11Window::show() {
  XMapWindow(display_, window_);
  XFlush(display_);
}

void X11Window::wake() {
  if (wakePipe_[1] < 0) return;
  const char byte = 1;
  // A full pipe already wakes the loop.
  [[maybe_unused]] const ssize_t written = write(wakePipe_[1], &byte, 1);
}

X11Window::WindowEvent X11Window::waitEvent(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool queuedInput = false;
  while (true) {
    while (!main_->isLost() && XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      // The input method takes what it needs; key events still count as
      // keys, only their text is its to give.
      const bool filtered = XFilterEvent(&event, None);
      if (filtered && event.type != KeyPress && event.type != KeyRelease) continue;
      switch (event.type) {
        case Expose:
          if (event.xexpose.count == 0) {
            paintMargin();
            pendingInput_ = pendingInput_ || queuedInput;
            return WindowEvent::Redraw;
          }
          break;
        case ClientMessage:
          if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_) {
            input().push(InputEvent::simple(InputEventType::Close));
            pendingInput_ = true;
            return WindowEvent::Closed;
          }
          break;
        case DestroyNotify:
          if (event.xdestroywindow.window == window_) {
            destroyed_ = true;
            failure_->report(kDestroyed);  // the device contexts stop presenting
            return WindowEvent::Failed;
          }
          break;
        case ConfigureNotify:
          if (event.xconfigure.window == window_ && event.xconfigure.width > 0 &&
              event.xconfigure.height > 0) {
            queuedInput = clientResized(static_cast<uint32_t>(event.xconfigure.width),
                                        static_cast<uint32_t>(event.xconfigure.height)) ||
                          queuedInput;
          }
          break;
        case MappingNotify:
          XRefreshKeyboardMapping(&event.xmapping);
          keyboard_->refresh();
          break;
        case KeyPress:
        case KeyRelease:
          queuedInput = translateKey(&event, filtered) || queuedInput;
          break;
        default:
          queuedInput = translate(&event) || queuedInput;
          break;
      }
    }
    if (failure_->hasFailed()) {
      // A device context may have failed on the window before its
      // destruction reached this connection: what explains it comes first.
      if (!main_->isLost() && !syncedAfterFailure_) {
        syncedAfterFailure_ = true;
        XSync(display_, False);
        continue;
      }
      return WindowEvent::Failed;
    }
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
    pollfd descriptors[3] = {{ConnectionNumber(display_), POLLIN, 0},
                             {wakePipe_[0], POLLIN, 0},
                             {failure_->wakeDescriptor(), POLLIN, 0}};
    // Without a pipe to wake it, the loop looks again every 100 ms.
    if (descriptors[1].fd < 0 || descriptors[2].fd < 0) {
      waitMs = waitMs < 0 ? 100 : std::min(waitMs, 100);
    }
    poll(descriptors, 3, waitMs);
    failure_->drainWakeups();
    if (descriptors[1].revents & POLLIN) {
      char bytes[64];
      while (read(wakePipe_[0], bytes, sizeof bytes) > 0) {
      }
      return WindowEvent::Woken;
    }
  }
}

bool X11Window::clientResized(uint32_t width, uint32_t height) {
  // A window that is not resizable keeps its surface, whatever is done to
  // it from outside.
  if (!resizable_) return false;
  width_ = width;
  height_ = height;
  uint32_t surfaceWidth, surfaceHeight;
  surfaceForClient(width, height, scale_, surfaceWidth, surfaceHeight);
  if (surfaceWidth == surfaceWidth_.load() && surfaceHeight == surfaceHeight_.load()) return false;
  surfaceWidth_ = surfaceWidth;
  surfaceHeight_ = surfaceHeight;
  paintMargin();
  try {
    surfaceResized(surfaceWidth, surfaceHeight);
  } catch (...) {
    // The Resize event is queued: the next look reports it.
    pendingInput_ = true;
    throw;
  }
  return true;
}

void X11Window::paintMargin() {
  // Less than one surface pixel wide (unless the surface reached its
  // limit): black, rather than whatever the server left there.
  const uint32_t right = surfaceWidth_.load() * scale_, bottom = surfaceHeight_.load() * scale_;
  const uint32_t width = width_.load(), height = height_.load();
  if (right >= width && bottom >= height) return;
  XRectangle margin[2];
  int count = 0;
  if (right < width) {
    margin[count++] = {static_cast<short>(right), 0, static_cast<unsigned short>(width - right),
                       static_cast<unsigned short>(height)};
  }
  if (bottom < height) {
    margin[count++] = {0, static_cast<short>(bottom), static_cast<unsigned short>(width),
                       static_cast<unsigned short>(height - bottom)};
  }
  GC gc = XCreateGC(display_, window_, 0, nullptr);
  XSetForeground(display_, gc, BlackPixel(display_, DefaultScreen(display_)));
  XFillRectangles(display_, window_, gc, margin, count);
  XFreeGC(display_, gc);
  XFlush(display_);
}

int32_t X11Window::toSurface(int32_t windowCoordinate) const {
  return windowToSurface(windowCoordinate, scale_);
}

bool X11Window::translateKey(void* raw, bool filtered) {
  XKeyEvent& event = static_cast<XEvent*>(raw)->xkey;
  const bool press = event.type == KeyPress;
  if (!press && !detectableRepeat_ && XEventsQueued(display_, QueuedAfterReading) > 0) {
    // A release followed at once by a press of the same key is the server
    // repeating a held key: the press reports it.
    XEvent next;
    XPeekEvent(display_, &next);
    if (next.type == KeyPress && next.xkey.window == event.window &&
        next.xkey.keycode == event.keycode && next.xkey.time - event.time < 20) {
      return false;
    }
  }
  bool queued = false;
  // Key code 0 is the input method's: a composed text, no key.
  if (event.keycode != 0) {
    const Key key = keyboard_->keyFor(event.keycode);
    const uint8_t mods = withOwnModifier(X11Keyboard::modifiers(event.state), key, press, input());
    const std::string label = keyboard_->labelFor(event.keycode, event.state, key);
    if (press) {
      const bool repeat = key != Key::Unknown && input().isKeyDown(key);
      input().push(InputEvent::keyDown(key, repeat, mods, label));
    } else {
      input().push(InputEvent::keyUp(key, mods, label));
    }
    queued = true;
  }
  if (!press || filtered) return queued;
  // Text: what the key types, unless it is a shortcut (Control or Alt held).
  if (event.state & (ControlMask | Mod1Mask)) return queued;
  std::vector<uint32_t> characters;
  if (inputContext_ != nullptr) {
    std::vector<char> text(64);
    KeySym keysym = 0;
    Status status = 0;
    int length = Xutf8LookupString(inputContext_, &event, text.data(),
                                   static_cast<int>(text.size()), &keysym, &status);
    if (status == XBufferOverflow) {
      text.resize(static_cast<size_t>(length));
      length = Xutf8LookupString(inputContext_, &event, text.data(), static_cast<int>(text.size()),
                                 &keysym, &status);
    }
    if (status == XLookupChars || status == XLookupBoth) {
      characters = decodeUtf8(text.data(), static_cast<size_t>(std::max(length, 0)));
    }
  } else {
    KeySym keysym = 0;
    char ignored[16];
    XLookupString(&event, ignored, sizeof ignored, &keysym, nullptr);
    if (const uint32_t c = keysymToCodePoint(keysym)) characters.push_back(c);
  }
  for (const uint32_t c : characters) {
    if (!printable(c)) continue;
    input().push(InputEvent::character(c));
    queued = true;
  }
  return queued;
}

bool X11Window::translate(void* raw) {
  XEvent& event = *static_cast<XEvent*>(raw);
  switch (event.type) {
    case ButtonPress:
    case ButtonRelease: {
      const XButtonEvent& b = event.xbutton;
      const bool press = event.type == ButtonPress;
      if (b.button >= 4 && b.button <= 7) {
        // Wheel steps come as presses of buttons 4 (up) to 7 (right).
        if (!press) return false;
        constexpr float kSteps[4][2] = {{0, 1}, {0, -1}, {-1, 0}, {1, 0}};
        input().push(InputEvent::wheel(kSteps[b.button - 4][0], kSteps[b.button - 4][1]));
        return true;
      }
      PointerButton button;
      switch (b.button) {
        case 1:
          button = PointerButton::Left;
          break;
        case 2:
          button = PointerButton::Middle;
          break;
        case 3:
          button = PointerButton::Right;
          break;
        case 8:
          button = PointerButton::X1;
          break;
        case 9:
          button = PointerButton::X2;
          break;
        default:
          return false;
      }
      const uint8_t mods = X11Keyboard::modifiers(b.state);
      const int32_t x = toSurface(b.x), y = toSurface(b.y);
      input().push(press ? InputEvent::buttonDown(button, x, y, mods)
                         : InputEvent::buttonUp(button, x, y, mods));
      return true;
    }
    case MotionNotify:
      input().push(InputEvent::motion(toSurface(event.xmotion.x), toSurface(event.xmotion.y)));
      return true;
    case EnterNotify:
    case LeaveNotify: {
      const XCrossingEvent& c = event.xcrossing;
      const bool enter = event.type == EnterNotify;
      // Grabs move no pointer; there are no child windows to cross into.
      if (c.mode != NotifyNormal || c.detail == NotifyInferior) return false;
      if (input().isPointerInside() == enter) return false;
      InputEvent crossing =
          InputEvent::simple(enter ? InputEventType::Enter : InputEventType::Leave);
      crossing.x = toSurface(c.x);
      crossing.y = toSurface(c.y);
      input().push(crossing);
      return true;
    }
    case FocusIn:
    case FocusOut: {
      const XFocusChangeEvent& f = event.xfocus;
      const bool in = event.type == FocusIn;
      // Grabs (a window manager's key bindings) and the pointer's own
      // window under a root focus move no keyboard focus to or from here.
      if (f.mode == NotifyGrab || f.mode == NotifyUngrab || f.detail == NotifyInferior ||
          f.detail == NotifyPointer || f.detail == NotifyPointerRoot ||
          f.detail == NotifyDetailNone) {
        return false;
      }
      if (inputContext_ != nullptr) {
        if (in) {
          XSetICFocus(inputContext_);
        } else {
          XUnsetICFocus(inputContext_);
        }
      }
      if (input().hasFocus() == in) return false;
      input().push(
          InputEvent::simple(in ? InputEventType::FocusGained : InputEventType::FocusLost));
      return true;
    }
    default:
      return false;
  }
}

std::string X11Window::getFailure() const {
  if (destroyed_) return kDestroyed;
  return failure_->what();
}

std::string X11Window::getSlowPathReason() const {
  std::lock_guard lock(noteLock_);
  return slowPathReason_;
}

}  // namespace nubrik
