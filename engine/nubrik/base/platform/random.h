// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

namespace nubrik::platform {

// The 15-bit generator the demonstration relies on for the same picture on
// every run: per-thread state starting at 1, state = state * 214013 + 2531011,
// result bits 16 to 30. Kept out of the installed headers: it serves the
// demonstration, not the engine's users.
int random15();

}  // namespace nubrik::platform
