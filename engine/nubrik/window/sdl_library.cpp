#include "nubrik/window/sdl_library.h"

#include <SDL.h>

#include <stdexcept>
#include <string>

namespace nubrik {

std::mutex& sdlLock() {
  static std::mutex lock;
  return lock;
}

SdlSubsystem::SdlSubsystem(uint32_t flags, const char* what) : flags_(flags) {
  std::lock_guard lock(sdlLock());
  // Hints set at normal priority yield to the environment's.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  // Gamepads are read by a thread of their own (attachGamepads): a window's
  // event loop then waits without polling them every millisecond.
  SDL_SetHint(SDL_HINT_AUTO_UPDATE_JOYSTICKS, "0");
  SDL_SetHint(SDL_HINT_AUTO_UPDATE_SENSORS, "0");
  if (SDL_InitSubSystem(flags) != 0) {
    throw std::runtime_error(std::string(what) + ": " + SDL_GetError());
  }
}

SdlSubsystem::~SdlSubsystem() {
  std::lock_guard lock(sdlLock());
  SDL_QuitSubSystem(flags_);
  // The last hold lets go of what SDL keeps besides (its message bus
  // connection, its hints), unless the program uses SDL for itself.
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

}  // namespace nubrik
