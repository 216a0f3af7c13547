#!/usr/bin/env bash
# Installs the engine from a build folder into an empty temporary prefix,
# checks that what is installed is the public headers (none marked internal,
# all of them in <nubrik/nubrik.h>, each compiling alone), and builds and
# runs, against that prefix alone, what a user of the package
# builds: the examples through find_package (the interactive ones through
# the window component), one of them again and the README's example through
# pkg-config, a consumer of the x11 component, and
# a headless add_subdirectory consumer that has neither X11, GoogleTest,
# Google Benchmark nor pixman.
#
#   scripts/check-install.sh [build folder, default build/release]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nubrik-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
# Consumers are built warning-free, installed headers included.
flags=(-std=c++20 -Wall -Wextra -Wpedantic -Werror)
step() { echo "== $*"; }
fail() { echo "check-install: $*" >&2; exit 1; }
# Configures quietly; the log is shown when a configuration that must work fails.
try_configure() { cmake -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="${flags[*]:1}" "$@" >"$work/configure.log" 2>&1; }
configure() { try_configure "$@" || { cat "$work/configure.log"; fail "cannot configure $2"; }; }
run() { (cd "$work" && timeout 60 "$@"); }

step "install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
if grep -rqF "$root" "$prefix"; then
  fail "the installed files name the source tree: $(grep -rlF "$root" "$prefix" | head -3)"
fi
stray=$(cd "$prefix/include" && find . -mindepth 1 -maxdepth 1 ! -name nubrik)
[ -z "$stray" ] || fail "headers outside include/nubrik: $stray"
pcfile=$(find "$prefix" -name nubrik.pc)
[ -n "$pcfile" ] || fail "no nubrik.pc under $prefix"

step "no installed header pulls in a system's window headers"
if grep -rlE '#include <(X11/|windows\.h|SDL)' "$prefix/include"; then
  fail "the installed headers above include X11, Win32 or SDL headers"
fi

step "the installed headers are the public ones, and <nubrik/nubrik.h> holds them all"
installed=$(cd "$prefix/include" && find nubrik -name '*.h' | sort)
marker="// Internal header"
for header in $installed; do
  if head -1 "$prefix/include/$header" | grep -qF "$marker"; then
    fail "$header is installed, yet says it is internal"
  fi
  case $header in
    nubrik/nubrik.h | nubrik/window/x11_window.h | nubrik/window/win32_window.h | \
      nubrik/window/sdl_window.h) ;;
    *) grep -qF "#include \"$header\"" "$prefix/include/nubrik/nubrik.h" ||
         fail "<nubrik/nubrik.h> does not include $header" ;;
  esac
done
# A header the install rules leave behind says so in its first line (the
# windows by name are installed with their components).
for header in $(cd "$root/engine" && find nubrik -name '*.h' | sort); do
  case $header in nubrik/window/x11_window.h | nubrik/window/win32_window.h | \
    nubrik/window/sdl_window.h) continue ;; esac
  if ! grep -qxF "$header" <<<"$installed" && ! head -1 "$root/engine/$header" | grep -qF "$marker"; then
    fail "$header is neither installed nor marked internal"
  fi
done

step "every installed header compiles on its own"
# One translation unit per header, two at a time.
export prefix
printf '%s\n' $installed | xargs -P 2 -I '{}' sh -c \
  'echo "#include <{}>" | g++ "$@" -fsyntax-only -I"$prefix/include" -x c++ - ||
   { echo "check-install: {} does not compile on its own" >&2; exit 255; }' sh "${flags[@]}" ||
  fail "an installed header does not compile on its own"

step "the examples, through find_package(nubrik)"
for example in moving_square blend_modes sheet text rotate; do
  configure -S "$root/examples/$example" -B "$work/$example" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON
  cmake --build "$work/$example" >/dev/null
  run "$work/$example/$example"
done
[ -s "$work/moving_square.png" ] || fail "moving_square wrote no picture"
[ -s "$work/text.png" ] || fail "text wrote no picture"
[ -s "$work/sheet.png" ] || fail "sheet wrote no picture"
[ -s "$work/rotate.png" ] || fail "rotate wrote no picture"

if [ -f "$prefix/lib/cmake/nubrik/nubrikX11Targets.cmake" ]; then
  step "the interactive examples, through find_package(nubrik COMPONENTS window)"
  for example in input_events arrows; do
    configure -S "$root/examples/$example" -B "$work/$example" -DCMAKE_PREFIX_PATH="$prefix"
    cmake --build "$work/$example" >/dev/null
    # Without a display they end with 1 and say why (the tests run them on
    # virtual displays).
    set +e
    (unset DISPLAY; run "$work/$example/$example" >"$work/$example.txt" 2>&1)
    code=$?
    set -e
    [ "$code" = 1 ] && grep -q "DISPLAY is not set" "$work/$example.txt" ||
      fail "$example without a display ended with $code: $(head -2 "$work/$example.txt")"
    if [ -f "$prefix/lib/cmake/nubrik/nubrikSdlTargets.cmake" ]; then
      # SDL's window, asked for by the environment, says the same its way.
      set +e
      (unset DISPLAY WAYLAND_DISPLAY SDL_VIDEODRIVER; export NUBRIK_WINDOW=sdl
       run "$work/$example/$example" >"$work/$example-sdl.txt" 2>&1)
      code=$?
      set -e
      [ "$code" = 1 ] && grep -q "SDL cannot open a window" "$work/$example-sdl.txt" ||
        fail "$example on SDL without a display ended with $code: $(tail -2 "$work/$example-sdl.txt")"
    fi
  done
fi

step "pkg-config"
PKG_CONFIG_PATH=$(dirname "$pcfile")
export PKG_CONFIG_PATH
version=$(sed -n 's/^#define NUBRIK_VERSION_STRING "\(.*\)"$/\1/p' "$prefix/include/nubrik/version.h")
[ "$(pkg-config --modversion nubrik)" = "$version" ] || fail "nubrik.pc and version.h disagree"
# A shared engine is found at run time through the rpath.
rpath="-Wl,-rpath,$(pkg-config --variable=libdir nubrik)"
# shellcheck disable=SC2046  # the flags are words
g++ "${flags[@]}" "$root/examples/blend_modes/main.cpp" -o "$work/blend_modes_pc" \
  $(pkg-config --cflags --libs nubrik) "$rpath"
run "$work/blend_modes_pc" >/dev/null
# The README's complete example, as a reader copies it.
awk '/^```cpp$/ { block = ""; inside = 1; next }
     /^```$/ && inside { if (block ~ /^#include <nubrik\/nubrik.h>/) printf "%s", block; inside = 0; next }
     inside { block = block $0 "\n" }' "$root/README.md" >"$work/readme.cpp"
[ -s "$work/readme.cpp" ] || fail "no complete example in README.md"
# shellcheck disable=SC2046
g++ "${flags[@]}" "$work/readme.cpp" -o "$work/readme" $(pkg-config --cflags --libs nubrik) "$rpath"
run "$work/readme"

if [ -f "$prefix/lib/cmake/nubrik/nubrikX11Targets.cmake" ]; then
  step "the x11 component"
  mkdir -p "$work/x11"
  cat >"$work/x11/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(x11_consumer LANGUAGES CXX)
find_package(nubrik 0.2 CONFIG REQUIRED COMPONENTS x11)
add_executable(x11_consumer main.cpp)
target_link_libraries(x11_consumer PRIVATE nubrik::x11)
CMAKE
  cat >"$work/x11/main.cpp" <<'CPP'
#include <nubrik/window/x11_window.h>
#include <nubrik/nubrik.h>

#include <cstdio>

#include <stdexcept>

int main() {
  // Without a display there is no window, and a reason.
  try {
    auto window = nubrik::X11Window::create("check", "check class", 64, 48);
    std::printf("x11 component: a window\n");
  } catch (const std::runtime_error& e) {
    std::printf("x11 component: no window: %s\n", e.what());
  }
  return 0;
}
CPP
  configure -S "$work/x11" -B "$work/x11/build" -DCMAKE_PREFIX_PATH="$prefix"
  cmake --build "$work/x11/build" >/dev/null
  (unset DISPLAY; run "$work/x11/build/x11_consumer")
  # shellcheck disable=SC2046
  g++ "${flags[@]}" "$work/x11/main.cpp" -o "$work/x11_pc" \
    $(pkg-config --cflags --libs nubrik-x11) "$rpath"
  (unset DISPLAY; run "$work/x11_pc" >/dev/null)
  # shellcheck disable=SC2046
  g++ "${flags[@]}" "$root/examples/arrows/main.cpp" -o "$work/arrows_pc" \
    $(pkg-config --cflags --libs nubrik-window) "$rpath"
  # Xlib's macros and names, included first, clash with no name of ours.
  printf '%s\n' '#include <X11/Xlib.h>' '#include <X11/Xutil.h>' '#include <nubrik/nubrik.h>' \
    '#include <nubrik/window/x11_window.h>' 'using namespace nubrik;' \
    'int main() { return InputEvent::simple(InputEventType::FocusGained).key == Key::Escape; }' |
    g++ "${flags[@]}" -fsyntax-only -I"$prefix/include" -x c++ - ||
    fail "the engine's names clash with Xlib's"
  sed -i 's/COMPONENTS x11/COMPONENTS x11 nothing/' "$work/x11/CMakeLists.txt"
  if try_configure -S "$work/x11" -B "$work/x11/bad" -DCMAKE_PREFIX_PATH="$prefix"; then
    fail "find_package(nubrik COMPONENTS nothing) succeeded"
  fi
fi

if [ -f "$prefix/lib/cmake/nubrik/nubrikSdlTargets.cmake" ]; then
  step "the sdl component"
  mkdir -p "$work/sdl"
  cat >"$work/sdl/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(sdl_consumer LANGUAGES CXX)
find_package(nubrik 0.2 CONFIG REQUIRED COMPONENTS sdl)
add_executable(sdl_consumer main.cpp)
target_link_libraries(sdl_consumer PRIVATE nubrik::sdl)
CMAKE
  cat >"$work/sdl/main.cpp" <<'CPP'
#include <nubrik/window/sdl_window.h>
#include <nubrik/nubrik.h>

#include <cstdio>

#include <stdexcept>

int main() {
  // Without a display there is no window, and a reason.
  try {
    auto window = nubrik::SdlWindow::create(nubrik::WindowOptions{});
    std::printf("sdl component: a window on %s\n", window->getDriverName().c_str());
  } catch (const std::runtime_error& e) {
    std::printf("sdl component: no window: %s\n", e.what());
  }
  return 0;
}
CPP
  configure -S "$work/sdl" -B "$work/sdl/build" -DCMAKE_PREFIX_PATH="$prefix"
  cmake --build "$work/sdl/build" >/dev/null
  (unset DISPLAY WAYLAND_DISPLAY; run "$work/sdl/build/sdl_consumer")
  # shellcheck disable=SC2046
  g++ "${flags[@]}" "$work/sdl/main.cpp" -o "$work/sdl_pc" \
    $(pkg-config --cflags --libs nubrik-sdl) "$rpath"
  (unset DISPLAY WAYLAND_DISPLAY; run "$work/sdl_pc" >/dev/null)
fi

step "add_subdirectory, headless and without the test and benchmark libraries"
mkdir -p "$work/sub"
cat >"$work/sub/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(sub_consumer LANGUAGES CXX)
add_subdirectory("$root" nubrik)
add_executable(blend_modes "$root/examples/blend_modes/main.cpp")
target_link_libraries(blend_modes PRIVATE nubrik::nubrik)
CMAKE
configure -S "$work/sub" -B "$work/sub/build" -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_SDL2=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON
cmake --build "$work/sub/build" >/dev/null
run "$work/sub/build/blend_modes" >/dev/null

echo "check-install: the installed package builds and runs its users"
