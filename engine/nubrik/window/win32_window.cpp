#include "nubrik/window/win32_window.h"

#include "nubrik/base/platform/win32_api.h"
// After windows.h, which they need.
#include <mmsystem.h>
#include <windowsx.h>

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>

#include "nubrik/base/platform/platform.h"
#include "nubrik/window/pixel_scaling.h"
#include "nubrik/window/win32_device_context.h"

namespace nubrik {

namespace {

constexpr const char* kDestroyed = "the window was destroyed from outside";

RECT clientRect(HWND hwnd) {
  RECT rect{};
  if (!GetClientRect(hwnd, &rect)) return RECT{};
  return rect;
}

std::wstring widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return L"";
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
  wide.pop_back();  // the terminator
  return wide;
}

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + " (" + platform::errorText(GetLastError()) + ")");
}

// Keys by their scan code (set 1), extended ones at 0x100 and up: the
// key's place, whatever the layout.
const std::array<Key, 512>& keysByScanCode() {
  static const std::array<Key, 512> table = [] {
    std::array<Key, 512> t{};
    // clang-format off
    const struct {
      uint16_t code;
      Key key;
    } entries[] = {
        {0x001, Key::Escape}, {0x002, Key::Digit1}, {0x003, Key::Digit2}, {0x004, Key::Digit3},
        {0x005, Key::Digit4}, {0x006, Key::Digit5}, {0x007, Key::Digit6}, {0x008, Key::Digit7},
        {0x009, Key::Digit8}, {0x00A, Key::Digit9}, {0x00B, Key::Digit0}, {0x00C, Key::Minus},
        {0x00D, Key::Equal}, {0x00E, Key::Backspace}, {0x00F, Key::Tab}, {0x010, Key::Q},
        {0x011, Key::W}, {0x012, Key::E}, {0x013, Key::R}, {0x014, Key::T}, {0x015, Key::Y},
        {0x016, Key::U}, {0x017, Key::I}, {0x018, Key::O}, {0x019, Key::P},
        {0x01A, Key::LeftBracket}, {0x01B, Key::RightBracket}, {0x01C, Key::Enter},
        {0x01D, Key::LeftControl}, {0x01E, Key::A}, {0x01F, Key::S}, {0x020, Key::D},
        {0x021, Key::F}, {0x022, Key::G}, {0x023, Key::H}, {0x024, Key::J}, {0x025, Key::K},
        {0x026, Key::L}, {0x027, Key::Semicolon}, {0x028, Key::Apostrophe}, {0x029, Key::Grave},
        {0x02A, Key::LeftShift}, {0x02B, Key::Backslash}, {0x02C, Key::Z}, {0x02D, Key::X},
        {0x02E, Key::C}, {0x02F, Key::V}, {0x030, Key::B}, {0x031, Key::N}, {0x032, Key::M},
        {0x033, Key::Comma}, {0x034, Key::Period}, {0x035, Key::Slash}, {0x036, Key::RightShift},
        {0x037, Key::KeypadMultiply}, {0x038, Key::LeftAlt}, {0x039, Key::Space},
        {0x03A, Key::CapsLock}, {0x03B, Key::F1}, {0x03C, Key::F2}, {0x03D, Key::F3},
        {0x03E, Key::F4}, {0x03F, Key::F5}, {0x040, Key::F6}, {0x041, Key::F7}, {0x042, Key::F8},
        {0x043, Key::F9}, {0x044, Key::F10}, {0x045, Key::Pause}, {0x046, Key::ScrollLock},
        {0x047, Key::Keypad7}, {0x048, Key::Keypad8}, {0x049, Key::Keypad9},
        {0x04A, Key::KeypadSubtract}, {0x04B, Key::Keypad4}, {0x04C, Key::Keypad5},
        {0x04D, Key::Keypad6}, {0x04E, Key::KeypadAdd}, {0x04F, Key::Keypad1},
        {0x050, Key::Keypad2}, {0x051, Key::Keypad3}, {0x052, Key::Keypad0},
        {0x053, Key::KeypadDecimal}, {0x056, Key::IntlBackslash}, {0x057, Key::F11},
        {0x058, Key::F12}, {0x059, Key::KeypadEqual}, {0x064, Key::F13}, {0x065, Key::F14},
        {0x066, Key::F15}, {0x067, Key::F16}, {0x068, Key::F17}, {0x069, Key::F18},
        {0x06A, Key::F19}, {0x06B, Key::F20}, {0x06C, Key::F21}, {0x06D, Key::F22},
        {0x06E, Key::F23}, {0x076, Key::F24}, {0x11C, Key::KeypadEnter}, {0x11D, Key::RightControl},
        {0x135, Key::KeypadDivide}, {0x137, Key::PrintScreen}, {0x138, Key::RightAlt},
        {0x145, Key::NumLock}, {0x146, Key::Pause}, {0x147, Key::Home}, {0x148, Key::Up},
        {0x149, Key::PageUp}, {0x14B, Key::Left}, {0x14D, Key::Right}, {0x14F, Key::End},
        {0x150, Key::Down}, {0x151, Key::PageDown}, {0x152, Key::Insert}, {0x153, Key::Delete},
        {0x15B, Key::LeftSuper}, {0x15C, Key::RightSuper}, {0x15D, Key::Menu},
    };
    // clang-format on
    for (const auto& e : entries) t[e.code] = e.key;
    return t;
  }();
  return table;
}

uint8_t currentModifiers() {
  auto down = [](int key) { return (GetKeyState(key) & 0x8000) != 0; };
  auto on = [](int key) { return (GetKeyState(key) & 1) != 0; };
  uint8_t mods = 0;
  if (down(VK_SHIFT)) mods |= static_cast<uint8_t>(Modifier::Shift);
  if (down(VK_CONTROL)) mods |= static_cast<uint8_t>(Modifier::Control);
  if (down(VK_MENU)) mods |= static_cast<uint8_t>(Modifier::Alt);
  if (down(VK_LWIN) || down(VK_RWIN)) mods |= static_cast<uint8_t>(Modifier::Super);
  if (on(VK_CAPITAL)) mods |= static_cast<uint8_t>(Modifier::CapsLock);
  if (on(VK_NUMLOCK)) mods |= static_cast<uint8_t>(Modifier::NumLock);
  return mods;
}

// What the layout prints on the key: the character it types without
// modifiers, else the key's name.
std::string labelFor(UINT scanCode, Key key) {
  const UINT virtualKey = MapVirtualKeyW(scanCode, MAPVK_VSC_TO_VK_EX);
  wchar_t character = static_cast<wchar_t>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_CHAR) & 0xFFFF);
  if (character > 0x20 && character != 0x7F && (character < 0xD800 || character >= 0xE000)) {
    CharLowerBuffW(&character, 1);
    char text[8];
    if (encodeUtf8(character, text)) return text;
  }
  return std::string(keyName(key));
}

}  // namespace

Win32Window::Win32Window(HWND__* hwnd) : hwnd_(hwnd) {}

struct Win32Window::Owned {
  HANDLE wakeEvent = nullptr;
  std::deque<WindowEvent> pending;
  WindowOptions options;
  bool destroying = false;
  bool destroyedOutside = false;
  bool timerRaised = false;
};

intptr_t runWindowProcedure(Win32Window& window, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) {
  HWND hwnd = window.hwnd_;
  Win32Window::Owned& owned = *window.owned_;
  switch (message) {
    case WM_PAINT: {
      // Validates the update region; the program redraws the surface.
      PAINTSTRUCT paint;
      HDC hdc = BeginPaint(hwnd, &paint);
      window.paintMargin(hdc);
      EndPaint(hwnd, &paint);
      window.pushPending(WindowEvent::Redraw);
      return 0;
    }
    case WM_ERASEBKGND:
      // Never erased: no flash of the class background over the picture.
      return 1;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) {
        window.clientResized(LOWORD(lParam), HIWORD(lParam));
        return 0;
      }
      break;
    case WM_CLOSE:
      // The program decides: the window stays until it is destroyed.
      window.input().push(InputEvent::simple(InputEventType::Close));
      window.queuedInput_ = true;
      window.pushPending(WindowEvent::Closed);
      return 0;
    case WM_DESTROY:
      if (!owned.destroying) {
        owned.destroyedOutside = true;
        window.pushPending(WindowEvent::Failed);
      }
      return 0;
    case WM_SETCURSOR:
      if (owned.options.hiddenCursor && LOWORD(lParam) == HTCLIENT) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    default:
      break;
  }
  const bool input = window.handleMessage(message, wParam, lParam);
  if (input) {
    // Keys the system acts on (Alt+F4, F10) go on to it; the extra buttons'
    // messages must say they were handled.
    if (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) {
      return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_XBUTTONDOWN || message == WM_XBUTTONUP) return TRUE;
    return 0;
  }
  if (message == WM_UNICHAR && wParam == UNICODE_NOCHAR) return TRUE;  // yes, we take UTF-32
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

namespace {

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    // The window learns its Win32Window before any other message.
    auto* window =
        static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr || window->handle() != hwnd) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  try {
    return runWindowProcedure(*window, message, wParam, lParam);
  } catch (...) {
    // Nothing may leave a window procedure; what failed here was queuing
    // input under a memory shortage.
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

std::unique_ptr<Win32Window> Win32Window::create(const WindowOptions& options) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  const std::wstring className = widen(options.className);
  if (className.empty()) throw std::invalid_argument("a Win32 window needs a class name");
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, className.c_str(), &existing)) {
    if (existing.lpfnWndProc != windowProc) {
      throw std::runtime_error("the window class \"" + options.className +
                               "\" is already registered by another part of the program");
    }
  } else {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = className.c_str();
    if (RegisterClassExW(&windowClass) == 0) {
      fail("cannot register the window class \"" + options.className + "\"");
    }
  }

  const uint32_t scale = options.scale;
  checkScale(scale);
  // Captioned, with a system menu and a minimise box; a sizing border and a
  // maximise box only when resizable, else the surface keeps its size.
  // Fullscreen: a frameless window over the whole primary screen.
  DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  if (options.resizable) style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
  int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
  const uint64_t clientWidth = uint64_t{options.width} * scale;
  const uint64_t clientHeight = uint64_t{options.height} * scale;
  if (options.width == 0 || options.height == 0 || clientWidth > 32767 || clientHeight > 32767) {
    throw std::invalid_argument("a Win32 window is 1 to 32767 pixels wide and high, not " +
                                std::to_string(clientWidth) + " x " + std::to_string(clientHeight));
  }
  LONG width = static_cast<LONG>(clientWidth), height = static_cast<LONG>(clientHeight);
  if (options.fullscreen) {
    style = WS_POPUP | WS_CLIPCHILDREN;
    x = y = 0;
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
  }
  RECT outer{0, 0, width, height};
  AdjustWindowRectEx(&outer, style, FALSE, 0);
  if (!options.fullscreen) {
    // The client area's corner where asked, else centred in the primary
    // screen's work area (keeping the caption on it); the frame goes around.
    int64_t clientX, clientY;
    if (options.position) {
      clientX = options.position->x;
      clientY = options.position->y;
    } else {
      RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
      clientX = work.left + (int64_t{work.right} - work.left - width) / 2;
      clientY = work.top + (int64_t{work.bottom} - work.top - height) / 2;
      clientX = std::max<int64_t>(clientX, int64_t{work.left} - outer.left);
      clientY = std::max<int64_t>(clientY, int64_t{work.top} - outer.top);
    }
    x = static_cast<int>(std::clamp<int64_t>(clientX + outer.left, INT32_MIN / 2, INT32_MAX / 2));
    y = static_cast<int>(std::clamp<int64_t>(clientY + outer.top, INT32_MIN / 2, INT32_MAX / 2));
  }

  auto window = std::unique_ptr<Win32Window>(new Win32Window(nullptr));
  window->owned_ = std::make_unique<Owned>();
  window->owned_->options = options;
  window->scale_ = scale;
  uint32_t surfaceWidth, surfaceHeight;
  surfaceForClient(static_cast<uint32_t>(width), static_cast<uint32_t>(height), scale, surfaceWidth,
                   surfaceHeight);
  window->surfaceWidth_ = surfaceWidth;
  window->surfaceHeight_ = surfaceHeight;
  window->owned_->wakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (window->owned_->wakeEvent == nullptr) fail("cannot create the window's wake-up event");
  // Paced frames wait to the millisecond.
  window->owned_->timerRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
  // The procedure finds the window by the creation parameter, from the
  // first message on; hwnd_ is set once the window exists.
  HWND hwnd = CreateWindowExW(0, className.c_str(), widen(options.title).c_str(), style, x, y,
                              outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                              instance, window.get());
  if (hwnd == nullptr) fail("cannot create the window \"" + options.title + "\"");
  window->hwnd_ = hwnd;
  return window;
}

Win32Window::~Win32Window() {
  endInputSources();
  if (!owned_) return;
  if (hwnd_ != nullptr && !owned_->destroyedOutside) {
    owned_->destroying = true;
    DestroyWindow(hwnd_);
  }
  if (owned_->wakeEvent != nullptr) CloseHandle(owned_->wakeEvent);
  if (owned_->timerRaised) timeEndPeriod(1);
}

uint32_t Win32Window::getClientWidth() const {
  const RECT rect = clientRect(hwnd_);
  return static_cast<uint32_t>(rect.right - rect.left);
}

uint32_t Win32Window::getClientHeight() const {
  const RECT rect = clientRect(hwnd_);
  return static_cast<uint32_t>(rect.bottom - rect.top);
}

uint32_t Win32Window::getSurfaceWidth() const {
  return owned_ ? surfaceWidth_.load() : getClientWidth();
}

uint32_t Win32Window::getSurfaceHeight() const {
  return owned_ ? surfaceHeight_.load() : getClientHeight();
}

void Win32Window::clientResized(uint32_t width, uint32_t height) {
  // Not resizable: the surface stays, whatever is done to the window.
  if (!owned_ || !owned_->options.resizable || hwnd_ == nullptr) return;
  uint32_t surfaceWidth, surfaceHeight;
  surfaceForClient(width, height, scale_, surfaceWidth, surfaceHeight);
  if (surfaceWidth == surfaceWidth_.load() && surfaceHeight == surfaceHeight_.load()) return;
  surfaceWidth_ = surfaceWidth;
  surfaceHeight_ = surfaceHeight;
  surfaceResized(surfaceWidth, surfaceHeight);
  queuedInput_ = true;
  // Everything is drawn again at the new size, the margin included.
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void Win32Window::paintMargin(void* hdc) {
  if (!owned_) return;
  const RECT client = clientRect(hwnd_);
  const auto right = static_cast<LONG>(surfaceWidth_.load() * scale_);
  const auto bottom = static_cast<LONG>(surfaceHeight_.load() * scale_);
  // Less than one surface pixel wide: black, rather than what was there.
  const auto black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  if (right < client.right) {
    const RECT margin{right, 0, client.right, client.bottom};
    FillRect(static_cast<HDC>(hdc), &margin, black);
  }
  if (bottom < client.bottom) {
    const RECT margin{0, bottom, client.right, client.bottom};
    FillRect(static_cast<HDC>(hdc), &margin, black);
  }
}

IDeviceContext* Win32Window::getDC() {
  HDC hdc = GetDC(hwnd_);
  if (hdc == nullptr) return nullptr;
  auto* dc = new (std::nothrow) Win32DeviceContext(hdc, scale_);
  if (dc == nullptr) ReleaseDC(hwnd_, hdc);
  return dc;
}

void Win32Window::releaseDC(IDeviceContext* dc) {
  auto* own = dynamic_cast<Win32DeviceContext*>(dc);
  if (own == nullptr) return;
  ReleaseDC(hwnd_, own->handle());
  delete own;
}

Point Win32Window::getCursorPosition() const {
  // Screen coordinates, then the window's client coordinates.
  POINT cursor{};
  GetCursorPos(&cursor);
  ScreenToClient(hwnd_, &cursor);
  return Point{cursor.x, cursor.y};
}

void Win32Window::show() {
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

void Win32Window::pushPending(WindowEvent event) {
  auto& pending = owned_->pending;
  // One redraw stands for any number.
  if (event == WindowEvent::Redraw &&
      std::find(pending.begin(), pending.end(), event) != pending.end()) {
    return;
  }
  pending.push_back(event);
}

void Win32Window::wake() {
  if (owned_) SetEvent(owned_->wakeEvent);
}

WindowEvent Win32Window::waitEvent(uint32_t timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // The thread is asked to end: its window's loop ends too, and the
        // message stays for the thread's own loop.
        PostQuitMessage(static_cast<int>(message.wParam));
        return WindowEvent::Closed;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (owned_ && !owned_->pending.empty()) {
      const WindowEvent event = owned_->pending.front();
      // Failed stays, for every later call.
      if (event != WindowEvent::Failed) owned_->pending.pop_front();
      return event;
    }
    if (queuedInput_) {
      queuedInput_ = false;
      return WindowEvent::Input;
    }
    DWORD wait = INFINITE;
    if (timeoutMs != kForever) {
      const DWORD passed = GetTickCount() - start;
      if (passed >= timeoutMs) return WindowEvent::TimedOut;
      wait = timeoutMs - passed;
    }
    HANDLE wake = owned_ ? owned_->wakeEvent : nullptr;
    const DWORD result = MsgWaitForMultipleObjectsEx(wake ? 1 : 0, wake ? &wake : nullptr, wait,
                                                     QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (wake && result == WAIT_OBJECT_0) {
      ResetEvent(wake);
      return WindowEvent::Woken;
    }
    if (result == WAIT_TIMEOUT) return WindowEvent::TimedOut;
    if (result == WAIT_FAILED) {
      throw std::runtime_error("waiting for the window's messages failed (" +
                               platform::errorText(GetLastError()) + ")");
    }
  }
}

std::string Win32Window::getFailure() const {
  return owned_ && owned_->destroyedOutside ? kDestroyed : "";
}

bool Win32Window::handleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  const bool input = translate(message, wParam, lParam);
  queuedInput_ = queuedInput_ || input;
  return input;
}

bool Win32Window::translate(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto button = [&](PointerButton which, bool down) {
    const unsigned bit = 1u << static_cast<unsigned>(which);
    const int x = windowToSurface(GET_X_LPARAM(lParam), scale_);
    const int y = windowToSurface(GET_Y_LPARAM(lParam), scale_);
    // While a button is down the window keeps the pointer, so that the
    // release comes here even outside it.
    if (down) {
      if (buttonsDown_ == 0 && hwnd_ != nullptr) SetCapture(hwnd_);
      buttonsDown_ |= bit;
      input().push(InputEvent::buttonDown(which, x, y, currentModifiers()));
    } else {
      buttonsDown_ &= ~bit;
      if (buttonsDown_ == 0 && hwnd_ != nullptr) ReleaseCapture();
      input().push(InputEvent::buttonUp(which, x, y, currentModifiers()));
    }
    return true;
  };
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
      UINT scanCode = (static_cast<UINT>(lParam) >> 16 & 0xFF) |
                      ((static_cast<UINT>(lParam) >> 24 & 1) ? 0x100 : 0);
      // Made-up key messages may carry no scan code: the layout's own.
      if ((scanCode & 0xFF) == 0) {
        scanCode = MapVirtualKeyW(static_cast<UINT>(wParam), MAPVK_VK_TO_VSC_EX);
        scanCode = (scanCode & 0xFF) | ((scanCode & 0xFF00) == 0xE000 ? 0x100 : 0);
      }
      Key key = keysByScanCode()[scanCode & 0x1FF];
      // Pause and Num Lock share a scan code; the virtual key tells them apart.
      if (wParam == VK_PAUSE) key = Key::Pause;
      if (wParam == VK_NUMLOCK) key = Key::NumLock;
      const std::string label = labelFor((scanCode & 0xFF) | (scanCode & 0x100 ? 0xE000 : 0), key);
      if (down) {
        // Bit 30: the key was down before this message.
        const bool repeat = (static_cast<UINT>(lParam) >> 30 & 1) != 0;
        input().push(InputEvent::keyDown(key, repeat, currentModifiers(), label));
      } else {
        input().push(InputEvent::keyUp(key, currentModifiers(), label));
      }
      return true;
    }
    case WM_CHAR:
    case WM_UNICHAR: {
      if (message == WM_UNICHAR && wParam == UNICODE_NOCHAR) return false;
      auto c = static_cast<uint32_t>(wParam);
      if (message == WM_CHAR && c >= 0xD800 && c < 0xDC00) {
        highSurrogate_ = static_cast<uint16_t>(c);  // the rest comes next
        return true;
      }
      if (message == WM_CHAR && c >= 0xDC00 && c < 0xE000) {
        if (highSurrogate_ == 0) return true;
        c = 0x10000 + ((highSurrogate_ - 0xD800u) << 10) + (c - 0xDC00);
      }
      highSurrogate_ = 0;
      // Control characters (Enter, Tab, Control+letter) are keys, not text.
      if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return true;
      const InputEvent text = InputEvent::character(c);
      if (text.text[0] != '\0') input().push(text);
      return true;
    }
    case WM_MOUSEMOVE: {
      const Point raw{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      const Point at{windowToSurface(raw.x, scale_), windowToSurface(raw.y, scale_)};
      if (!pointerInside_) {
        pointerInside_ = true;
        // The system says when the pointer leaves only when asked, each time.
        if (hwnd_ != nullptr) {
          TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, hwnd_, 0};
          TrackMouseEvent(&track);
        }
        InputEvent enter = InputEvent::simple(InputEventType::Enter);
        enter.x = at.x;
        enter.y = at.y;
        input().push(enter);
      }
      // The system also sends the position it already sent (after a click,
      // on activation): only moves count.
      if (movedYet_ && raw == lastMotion_) return true;
      movedYet_ = true;
      lastMotion_ = raw;
      input().push(InputEvent::motion(at.x, at.y));
      return true;
    }
    case WM_MOUSELEAVE:
      pointerInside_ = false;
      input().push(InputEvent::simple(InputEventType::Leave));
      return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      return button(PointerButton::Left, message == WM_LBUTTONDOWN);
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      return button(PointerButton::Middle, message == WM_MBUTTONDOWN);
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      return button(PointerButton::Right, message == WM_RBUTTONDOWN);
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
      return button(GET_XBUTTON_WPARAM(wParam) == XBUTTON1 ? PointerButton::X1 : PointerButton::X2,
                    message == WM_XBUTTONDOWN);
    case WM_MOUSEWHEEL:
      input().push(InputEvent::wheel(0, GET_WHEEL_DELTA_WPARAM(wParam) / float{WHEEL_DELTA}));
      return true;
    case WM_MOUSEHWHEEL:
      input().push(InputEvent::wheel(GET_WHEEL_DELTA_WPARAM(wParam) / float{WHEEL_DELTA}, 0));
      return true;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      input().push(InputEvent::simple(message == WM_SETFOCUS ? InputEventType::FocusGained
                                                             : InputEventType::FocusLost));
      return true;
    default:
      return false;
  }
}

}  // namespace nubrik
