#include "nubrik/base/platform/x11_window.h"

#include <X11/Xutil.h>
#include <X11/cursorfont.h>

#include <algorithm>
#include <cstring>

namespace nubrik {

namespace {

// Presents bands with XPutImage straight from the band's rows, on a
// connection of its own. Calls are serialised by the Screen.
class X11DeviceContext final : public IDeviceContext {
 public:
  X11DeviceContext(Display* display, Window window)
      : display_(display), window_(window), gc_(XCreateGC(display, window, 0, nullptr)) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, window_, &attributes);
    visual_ = attributes.visual;
    depth_ = attributes.depth;
  }
  ~X11DeviceContext() override {
    XFreeGC(display_, gc_);
    XCloseDisplay(display_);
  }

  void presentBand(const uint8_t* pixels, uint32_t pitch, uint32_t width, uint32_t rows,
                   int32_t bandTop, const Rect& rect) override {
    const int64_t top = std::max<int64_t>(rect.top, bandTop);
    const int64_t bottom = std::min<int64_t>(rect.bottom, int64_t{bandTop} + rows);
    const int64_t left = std::max<int64_t>(rect.left, 0);
    const int64_t right = std::min<int64_t>(rect.right, width);
    if (left >= right || top >= bottom) return;
    // An image header over the band's own rows: nothing is copied here.
    XImage* image = XCreateImage(
        display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0,
        reinterpret_cast<char*>(const_cast<uint8_t*>(pixels + (top - bandTop) * pitch)), width,
        static_cast<unsigned>(bottom - top), 32, static_cast<int>(pitch));
    if (image == nullptr) return;
    image->byte_order = LSBFirst;  // the band's words are little-endian 0x??RRGGBB
    XPutImage(display_, window_, gc_, image, static_cast<int>(left), 0, static_cast<int>(left),
              static_cast<int>(top), static_cast<unsigned>(right - left),
              static_cast<unsigned>(bottom - top));
    image->data = nullptr;  // not ours to free
    XDestroyImage(image);
    XFlush(display_);
  }

 private:
  Display* display_;
  Window window_;
  GC gc_;
  Visual* visual_ = nullptr;
  int depth_ = 24;
};

}  // namespace

std::unique_ptr<X11Window> X11Window::create(const std::string& title, const std::string& className,
                                             uint32_t width, uint32_t height) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  Display* cursorDisplay = XOpenDisplay(DisplayString(display));
  if (cursorDisplay == nullptr) {
    XCloseDisplay(display);
    return nullptr;
  }
  const int screen = DefaultScreen(display);
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
  hints->flags = PMinSize | PMaxSize;
  hints->min_width = hints->max_width = static_cast<int>(width);
  hints->min_height = hints->max_height = static_cast<int>(height);
  XSetWMNormalHints(display, window, hints);
  XFree(hints);

  auto result =
      std::unique_ptr<X11Window>(new X11Window(display, cursorDisplay, window, width, height));
  XSetWMProtocols(display, window, &result->deleteWindow_, 1);
  XFlush(display);
  return result;
}

X11Window::X11Window(Display* display, Display* cursorDisplay, Window window, uint32_t width,
                     uint32_t height)
    : display_(display),
      cursorDisplay_(cursorDisplay),
      window_(window),
      deleteWindow_(XInternAtom(display, "WM_DELETE_WINDOW", False)),
      width_(width),
      height_(height) {}

X11Window::~X11Window() {
  XDestroyWindow(display_, window_);
  XCloseDisplay(cursorDisplay_);
  XCloseDisplay(display_);
}

IDeviceContext* X11Window::getDC() {
  // The window exists on the server once the creating connection is flushed.
  XSync(display_, False);
  Display* display = XOpenDisplay(DisplayString(display_));
  if (display == nullptr) return nullptr;
  return new X11DeviceContext(display, window_);
}

void X11Window::releaseDC(IDeviceContext* dc) { delete dc; }

Point X11Window::getCursorPosition() const {
  std::lock_guard lock(cursorLock_);
  Window root, child;
  int rootX = 0, rootY = 0, x = 0, y = 0;
  unsigned mask = 0;
  XQueryPointer(cursorDisplay_, window_, &root, &child, &rootX, &rootY, &x, &y, &mask);
  return Point{x, y};
}

void X11Window::show() {
  XMapWindow(display_, window_);
  XFlush(display_);
}

bool X11Window::nextEvent(bool& exposed) {
  exposed = false;
  XEvent event;
  XNextEvent(display_, &event);
  switch (event.type) {
    case Expose:
      exposed = event.xexpose.count == 0;
      break;
    case ClientMessage:
      if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_) return false;
      break;
    default:
      break;
  }
  return true;
}

}  // namespace nubrik
