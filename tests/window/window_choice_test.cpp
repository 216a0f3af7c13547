// Which window openWindow makes: NUBRIK_WINDOW over the program's choice,
// its values in any case, and a message that names the value and says why
// for one that names no window, another platform's window, or the SDL
// window in a build without SDL2.

#include "nubrik/window/window_choice.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace nubrik {
namespace {

std::string refusal(WindowBackend requested, const char* environment, bool sdlBuilt) {
  try {
    chooseWindowBackend(requested, environment, sdlBuilt);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(WindowChoiceTest, TheEnvironmentWinsAndEveryRefusalSaysWhy) {
#ifdef _WIN32
  const char* platform = "win32";
  const char* other = "x11";
#else
  const char* platform = "x11";
  const char* other = "win32";
#endif
  using B = WindowBackend;
  for (const bool sdl : {true, false}) {
    for (const B requested : {B::Native, B::Sdl}) {
      if (requested == B::Sdl && !sdl) continue;
      // Unset or empty: the program's choice.
      EXPECT_EQ(chooseWindowBackend(requested, nullptr, sdl), requested);
      EXPECT_EQ(chooseWindowBackend(requested, "", sdl), requested);
      for (const char* native : {"native", "NATIVE", platform}) {
        EXPECT_EQ(chooseWindowBackend(requested, native, sdl), B::Native) << native;
      }
      if (sdl) {
        EXPECT_EQ(chooseWindowBackend(requested, "Sdl", sdl), B::Sdl);
      }
    }
  }
  const std::string noSdl = refusal(B::Native, "sdl", false);
  EXPECT_NE(noSdl.find("NUBRIK_WINDOW=sdl"), std::string::npos) << noSdl;
  EXPECT_NE(noSdl.find("built without SDL2"), std::string::npos) << noSdl;
  const std::string asked = refusal(B::Sdl, nullptr, false);
  EXPECT_NE(asked.find("WindowOptions::backend"), std::string::npos) << asked;
  EXPECT_NE(asked.find("built without SDL2"), std::string::npos) << asked;
  const std::string foreign = refusal(B::Native, other, true);
  EXPECT_NE(foreign.find(std::string("NUBRIK_WINDOW=") + other), std::string::npos) << foreign;
  EXPECT_NE(foreign.find("another platform"), std::string::npos) << foreign;
  const std::string unknown = refusal(B::Native, "wayland", true);
  EXPECT_NE(unknown.find("NUBRIK_WINDOW=wayland names no window"), std::string::npos) << unknown;
  EXPECT_THROW(chooseWindowBackend(static_cast<B>(9), nullptr, true), std::invalid_argument);
}

}  // namespace
}  // namespace nubrik
