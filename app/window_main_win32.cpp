// nubrik: the demonstration in an 800 x 600 window titled "Nubrik", on
// Windows. The message thread only builds and ends the scene and forwards
// repaint requests; the engine's threads do all the drawing.

#include "nubrik/base/platform/win32_api.h"
// After windows.h, which it needs.
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "app/scene.h"
#include "nubrik/base/platform/platform.h"
#include "nubrik/window/win32_window.h"
#include "nubrik/window/window_choice.h"

namespace {

using namespace nubrik;

constexpr wchar_t kClassName[] = L"Nubrik class";
constexpr wchar_t kTitle[] = L"Nubrik";
// Captioned, with a system menu and a minimise box; no sizing border and no
// maximise box, so the surface keeps its size.
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
static_assert(kStyle == 0x02CA0000);
constexpr LONG kClientWidth = 800;
constexpr LONG kClientHeight = 600;

// The window as the scene sees it, and the scene: both from WM_CREATE to
// WM_DESTROY, used by the message thread only.
std::unique_ptr<Win32Window> currentWindow;
std::shared_ptr<Scene> currentScene;
// Why WM_CREATE could not build the scene, for the message box.
std::string startFailure;

std::wstring widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return L"";
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.pop_back();  // the terminator
  return wide;
}

// Tells the user why the program cannot start, on stderr and in a message
// box, restores the timer resolution and gives the exit code, 1.
int startFailed(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  MessageBoxW(nullptr, widen(text).c_str(), kTitle, MB_OK | MB_ICONERROR);
  timeEndPeriod(1);
  return 1;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // Nothing may leave a window procedure: a scene that cannot be built
      // fails the window's creation, and WinMain tells the user why.
      try {
        auto view = std::make_unique<Win32Window>(window);
        auto scene = std::make_shared<Scene>(*view);
        currentScene = std::move(scene);  // a scene there before goes first
        currentWindow = std::move(view);
      } catch (const std::exception& failure) {
        startFailure = describeStartFailure("nubrik", failure);
        return -1;
      }
      return 0;
    case WM_DESTROY:
      // The scene stops its threads before the window's device context goes.
      currentScene.reset();
      currentWindow.reset();
      // A quit message would close the failure's message box at once.
      if (startFailure.empty()) PostQuitMessage(0);
      return 0;
    case WM_PAINT: {
      // Validates the update region; the next frame redraws everything.
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      if (currentScene) currentScene->paint();
      return 0;
    }
    case WM_ERASEBKGND:
      // Never erased: the white class brush never paints over the picture.
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  // The frame loop's 1-millisecond pauses last about that long.
  timeBeginPeriod(1);
  // NUBRIK_WINDOW may name this window; this build has no other.
  try {
    chooseWindowBackend(WindowBackend::Native, std::getenv("NUBRIK_WINDOW"), false);
  } catch (const std::exception& e) {
    return startFailed(std::string("nubrik: ") + e.what());
  }

  WNDCLASSW windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = windowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = instance;
  windowClass.hIcon = nullptr;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = kClassName;
  if (RegisterClassW(&windowClass) == 0) {
    return startFailed("nubrik: cannot register the window class (" +
                       platform::errorText(GetLastError()) + ")");
  }

  // The outer size whose client area is 800 x 600.
  RECT outer{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
  // WM_CREATE arrives inside this call: the scene and its frame thread exist
  // before the window is shown.
  HWND window = CreateWindowExW(0, kClassName, kTitle, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                nullptr, instance, nullptr);
  if (window == nullptr) {
    // The scene could not be built (a missing picture), or no window made.
    if (!startFailure.empty()) return startFailed(startFailure);
    return startFailed("nubrik: cannot create the window (" + platform::errorText(GetLastError()) +
                       ")");
  }
  ShowWindow(window, showCommand);
  UpdateWindow(window);

  // GetMessageW gives -1 when it fails: that ends the loop too, rather than
  // spinning on it.
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  timeEndPeriod(1);
  return 0;
}
