#include "nubrik/window/x11_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <poll.h>

#include <exception>

#include "nubrik/window/x11_connection.h"
#include "nubrik/window/x11_device_context.h"
#include "nubrik/window/x11_pixel_format.h"

namespace nubrik {

namespace {

constexpr const char* kDestroyed = "the window was destroyed from outside";

}  // namespace

std::unique_ptr<X11Window> X11Window::create(const std::string& title, const std::string& className,
                                             uint32_t width, uint32_t height,
                                             X11WindowOptions options) {
  // Worker threads present while the message loop runs.
  XInitThreads();
  auto failure = std::make_shared<X11Failure>();
  auto main =
      X11Connection::open(options.display.empty() ? nullptr : options.display.c_str(), failure);
  if (!main) return nullptr;
  Display* display = main->get();
  const int screen = DefaultScreen(display);
  // Refused before anything is shown.
  X11PixelFormat::forVisual(display, DefaultVisual(display, screen), DefaultDepth(display, screen));
  auto cursor = X11Connection::open(DisplayString(display), failure);
  if (!cursor) return nullptr;

  XSetWindowAttributes attributes{};
  // No background: the server never paints over the picture (no white flash).
  attributes.background_pixmap = None;
  attributes.cursor = XCreateFontCursor(display, XC_left_ptr);
  attributes.event_mask = ExposureMask | StructureNotifyMask;
  const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, width, height, 0,
                                      CopyFromParent, InputOutput, CopyFromParent,
                                      CWBackPixmap | CWCursor | CWEventMask, &attributes);

  XStoreName(display, window, title.c_str());
  char name[] = "nubrik";
  XClassHint classHint{name, const_cast<char*>(className.c_str())};
  XSetClassHint(display, window, &classHint);
  // Not resizable: the smallest and the largest size are the client size.
  XSizeHints* hints = XAllocSizeHints();
  if (hints != nullptr) {
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = static_cast<int>(width);
    hints->min_height = hints->max_height = static_cast<int>(height);
    XSetWMNormalHints(display, window, hints);
    XFree(hints);
  }

  auto result = std::unique_ptr<X11Window>(new X11Window(
      std::move(main), std::move(cursor), std::move(failure), window, width, height, options));
  XSetWMProtocols(display, window, &result->deleteWindow_, 1);
  XFlush(display);
  return result;
}

X11Window::X11Window(std::unique_ptr<X11Connection> main, std::unique_ptr<X11Connection> cursor,
                     std::shared_ptr<X11Failure> failure, unsigned long window, uint32_t width,
                     uint32_t height, X11WindowOptions options)
    : failure_(std::move(failure)),
      main_(std::move(main)),
      cursor_(std::move(cursor)),
      display_(main_->get()),
      window_(window),
      deleteWindow_(XInternAtom(display_, "WM_DELETE_WINDOW", False)),
      width_(width),
      height_(height),
      options_(options) {}

X11Window::~X11Window() {
  if (!destroyed_) XDestroyWindow(display_, window_);
  cursor_.reset();
  main_.reset();
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
    auto* dc = new X11DeviceContext(std::move(connection), window_, width_, height_,
                                    options_.sharedMemory);
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

X11Window::WindowEvent X11Window::waitEvent() {
  while (true) {
    while (!main_->isLost() && XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      switch (event.type) {
        case Expose:
          if (event.xexpose.count == 0) return WindowEvent::Redraw;
          break;
        case ClientMessage:
          if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_)
            return WindowEvent::Closed;
          break;
        case DestroyNotify:
          if (event.xdestroywindow.window == window_) {
            destroyed_ = true;
            failure_->report(kDestroyed);  // the device contexts stop presenting
            return WindowEvent::Failed;
          }
          break;
        default:
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
    pollfd descriptors[2] = {{ConnectionNumber(display_), POLLIN, 0},
                             {failure_->wakeDescriptor(), POLLIN, 0}};
    const bool canWake = descriptors[1].fd >= 0;
    poll(descriptors, canWake ? 2 : 1, canWake ? -1 : 100);
    failure_->drainWakeups();
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
