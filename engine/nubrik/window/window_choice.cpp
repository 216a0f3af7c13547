#include "nubrik/window/window_choice.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

namespace nubrik {

namespace {

#ifdef _WIN32
constexpr std::string_view kPlatform = "win32", kOtherPlatform = "x11";
#else
constexpr std::string_view kPlatform = "x11", kOtherPlatform = "win32";
#endif

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace

WindowBackend chooseWindowBackend(WindowBackend requested, const char* fromEnvironment,
                                  bool sdlBuilt) {
  if (requested != WindowBackend::Native && requested != WindowBackend::Sdl) {
    throw std::invalid_argument("WindowOptions::backend is " +
                                std::to_string(static_cast<int>(requested)) + ", not a window");
  }
  WindowBackend chosen = requested;
  std::string asker = "WindowOptions::backend";
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
    const std::string value = lower(fromEnvironment);
    asker = "NUBRIK_WINDOW=" + std::string(fromEnvironment);
    if (value == "native" || value == kPlatform) {
      chosen = WindowBackend::Native;
    } else if (value == "sdl") {
      chosen = WindowBackend::Sdl;
    } else if (value == kOtherPlatform) {
      throw std::runtime_error(asker +
                               " asks for another platform's window: here the windows are " +
                               std::string(kPlatform) + " (native) and sdl");
    } else {
      throw std::runtime_error(asker + " names no window: NUBRIK_WINDOW takes native, sdl or " +
                               std::string(kPlatform));
    }
  }
  if (chosen == WindowBackend::Sdl && !sdlBuilt) {
    throw std::runtime_error(asker +
                             " asks for the SDL window, but this program's Nubrik was built "
                             "without SDL2 (install SDL2's development files, libsdl2-dev on "
                             "Debian, and build it again)");
  }
  return chosen;
}

}  // namespace nubrik
