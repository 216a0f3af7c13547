#!/usr/bin/env bash
# make windows: cross-builds the presets mingw64 (x86-64) and mingw32 (i686)
# and runs under wine what can run here: the whole test suite and
# scripts/windows-checks.sh, for mingw64 with wine64 and for mingw32 where
# Debian's wine32 installs. Takes the Linux build in build/release (make
# build) for the comparisons and, where a build cannot run its own tools,
# for its pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
linux=build/release

./scripts/install-deps.sh --windows
if [ ! -x "$linux/tools/make_pictures" ] || [ ! -x "$linux/bin/nubrik-headless" ]; then
  echo "build-windows.sh: no Linux build in $linux (make build makes it)" >&2
  exit 2
fi

stopServer() {
  local server=/usr/lib/wine/wineserver
  [ -x "$server" ] || server=$(command -v wineserver || true)
  [ -n "$server" ] || return 0
  WINEPREFIX=$PWD/build/wine-$1 timeout 20 "$server" -k 2>/dev/null || true
}

# preset processor wine-architecture run(yes|no)
windows() {
  local preset=$1 processor=$2 arch=$3 run=$4
  local dir=build/$preset
  local start=$SECONDS
  echo "== $preset: libpng, FreeType and GoogleTest for $processor Windows"
  timeout 900 ./scripts/build-libpng-mingw.sh "$processor" "$dir/deps"
  timeout 900 ./scripts/build-freetype-mingw.sh "$processor" "$dir/deps"
  timeout 900 ./scripts/build-gtest-mingw.sh "$processor" "$dir/deps"
  echo "== $preset: build"
  if [ "$run" = yes ]; then
    cmake --preset "$preset" -DNUBRIK_WINE=ON -DNUBRIK_HOST_MAKE_PICTURES= >/dev/null
  else
    cmake --preset "$preset" -DNUBRIK_WINE=OFF \
      -DNUBRIK_HOST_MAKE_PICTURES="$PWD/$linux/tools/make_pictures" >/dev/null
  fi
  timeout 1800 cmake --build --preset "$preset"
  if [ "$processor" = i686 ]; then
    # An i686 processor may lack SSE2: vector instructions belong only in the
    # loops chosen at run time.
    local leaks
    leaks=$(for program in "$dir"/bin/*.exe; do
      i686-w64-mingw32-objdump -d -C --no-show-raw-insn "$program"
    done | awk '/^[0-9a-f]+ <.*>:$/ { name = $0 } name !~ /<\./ && /[xyz]mm[0-9]/ { print name }' | sort -u |
      grep -v 'nubrik::blit::\(sse2\|avx2\|avx512\)::' || true)
    if [ -n "$leaks" ]; then
      echo "$preset: vector instructions outside the run-time chosen loops:" >&2
      echo "$leaks" >&2
      return 1
    fi
    echo "== $preset: no vector instruction outside the loops chosen at run time"
  fi
  if [ "$run" = yes ]; then
    echo "== $preset: the tests under wine"
    local status=0
    timeout 1200 ctest --preset "$preset" || status=$?
    stopServer "$arch"
    [ "$status" -eq 0 ] || return "$status"
    echo "== $preset: the programs under wine"
    timeout 300 ./scripts/windows-checks.sh "$arch" "$dir" "$linux"
  fi
  echo "== $preset: done in $((SECONDS - start)) s; programs and pictures in $dir/bin"
}

windows mingw64 x86_64 win64 yes
if why=$(./scripts/install-deps.sh --wine32 2>&1); then
  windows mingw32 i686 win32 yes
else
  echo "mingw32: built, not run under wine: ${why##*$'\n'}"
  windows mingw32 i686 win32 no
fi
