// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

#include <cstdint>
#include <mutex>

namespace nubrik {

// Every start and end of an SDL subsystem, and the hints set before them,
// one thread at a time: SDL counts its subsystems' users but does not lock.
std::mutex& sdlLock();

// A hold on SDL subsystems (SDL_INIT_* flags) for the object's life; the
// last one, where the program has no subsystem of its own left, ends SDL. The
// first hold sets the hints Nubrik's windows rely on, each unless the
// environment sets it: the program keeps its own signal handlers, the
// screen saver may run, a compositor keeps compositing, gamepads report
// whether or not a window has the focus, as with the platforms' windows,
// and only the gamepad thread reads them.
class SdlSubsystem {
 public:
  // Throws std::runtime_error with `what` and SDL's reason.
  SdlSubsystem(uint32_t flags, const char* what);
  ~SdlSubsystem();
  SdlSubsystem(const SdlSubsystem&) = delete;
  SdlSubsystem& operator=(const SdlSubsystem&) = delete;

 private:
  uint32_t flags_;
};

}  // namespace nubrik
