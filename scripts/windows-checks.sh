#!/usr/bin/env bash
# The Windows build as a user meets it, under wine: the headless runner's
# snapshot against the Linux build's, byte for byte, at every blitter level,
# and so the rotation example's picture (turned and smoothly scaled
# sprites); the headless runner's failures; and the window program on a virtual X
# server (its window, its picture, a close request; a missing picture's
# message); input sent through XTEST to the interactive examples, against
# what they report. Every wine run and every wait is bounded in time.
#
# usage: windows-checks.sh win64|win32 WINDOWS_BUILD LINUX_BUILD
#   WINDOWS_BUILD  a mingw preset's build folder (programs in bin/)
#   LINUX_BUILD    a Linux build folder (bin/nubrik-headless, bin/rotate, tools/window_probe)
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: windows-checks.sh win64|win32 WINDOWS_BUILD LINUX_BUILD" >&2
  exit 2
fi
arch=$1
windows=$(realpath "$2")
linux=$(realpath "$3")
cd "$(dirname "$0")/.."
root=$(pwd)
prefix=$root/build/wine-$arch
probe=$linux/tools/window_probe
for needed in "$windows/bin/nubrik.exe" "$windows/bin/nubrik-headless.exe" \
  "$windows/bin/input_events.exe" "$windows/bin/arrows.exe" "$windows/bin/rotate.exe" \
  "$linux/bin/nubrik-headless" "$linux/bin/rotate" "$probe"; do
  if [ ! -x "$needed" ]; then
    echo "windows-checks.sh: $needed is missing (build both first)" >&2
    exit 2
  fi
done

wineserver=/usr/lib/wine/wineserver
if [ ! -x "$wineserver" ]; then wineserver=$(command -v wineserver || echo wineserver); fi
work=$(mktemp -d)
xvfb=""
cleanup() {
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
  # Ends what is left of this prefix's programs, and its server.
  WINEPREFIX=$prefix timeout 20 "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A Windows program under wine, at most `limit` seconds.
limit=60
wine_run() { NUBRIK_WINE_TIMEOUT=$limit "$root/scripts/wine-run.sh" "$arch" "$prefix" "$@"; }

failures=0
pass() { echo "ok: $*"; }
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# --- The headless runner ------------------------------------------------------

frames=(--frames 120 --cursor 100,120)
(cd "$linux/bin" && timeout 60 ./nubrik-headless "${frames[@]}" --snapshot "$work/linux.png" \
  >/dev/null)
for level in default sse2 scalar; do
  simd=()
  if [ "$level" != default ]; then simd=(NUBRIK_SIMD=$level); fi
  if (cd "$windows/bin" && env NUBRIK_WINE_TIMEOUT=$limit "${simd[@]}" \
    "$root/scripts/wine-run.sh" "$arch" "$prefix" ./nubrik-headless.exe "${frames[@]}" --snapshot "$work/windows-$level.png" >/dev/null) &&
    cmp -s "$work/linux.png" "$work/windows-$level.png"; then
    pass "headless snapshot ($level blitters) is byte for byte the Linux one" \
      "($(stat -c %s "$work/linux.png") bytes)"
  else
    fail "headless snapshot ($level blitters) differs from the Linux one"
  fi
done

# Sprites turned by any angle and scaled with both filters: one rule in
# integers, so the same bytes at every level on both systems.
(cd "$linux/bin" && timeout 60 ./rotate "$work/rotate-linux.png" >/dev/null)
for level in default sse2 scalar; do
  simd=()
  if [ "$level" != default ]; then simd=(NUBRIK_SIMD=$level); fi
  if (cd "$windows/bin" && env NUBRIK_WINE_TIMEOUT=$limit "${simd[@]}" \
    "$root/scripts/wine-run.sh" "$arch" "$prefix" ./rotate.exe "$work/rotate-windows-$level.png" >/dev/null) &&
    cmp -s "$work/rotate-linux.png" "$work/rotate-windows-$level.png"; then
    pass "rotated scene ($level blitters) is byte for byte the Linux one" \
      "($(stat -c %s "$work/rotate-linux.png") bytes)"
  else
    fail "rotated scene ($level blitters) differs from the Linux one"
  fi
done

mkdir -p "$work/empty"
# The programs find their pictures beside themselves: alone in a folder of
# their own (with the libraries they load), they have none.
cp "$windows/bin/nubrik-headless.exe" "$windows/bin/nubrik.exe" "$work/empty/"
cp "$windows/bin/"*.dll "$work/empty/" 2>/dev/null || true
set +e
(cd "$windows/bin" && wine_run ./nubrik-headless.exe --frames zero >"$work/usage.txt" 2>&1)
usage=$?
(cd "$work/empty" && wine_run ./nubrik-headless.exe --frames 1 >"$work/missing.txt" 2>&1)
missing=$?
set -e
if [ "$usage" -eq 2 ] && grep -q "usage:" "$work/usage.txt"; then
  pass "headless: a bad argument ends with 2 and the usage"
else
  fail "headless: a bad argument ended with $usage: $(head -2 "$work/usage.txt")"
fi
if [ "$missing" -eq 1 ] && grep -q '"load.gra"' "$work/missing.txt"; then
  pass "headless: a missing picture ends with 1 and names it"
else
  fail "headless: a missing picture ended with $missing: $(head -2 "$work/missing.txt")"
fi

# --- The window program, on a virtual X server ----------------------------------

mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
display=""
read -r -t 20 display <"$work/display" || true
if [ -z "$display" ]; then
  fail "no virtual X server (Xvfb) could be started"
  exit 1
fi
export DISPLAY=:$display
# The headless runs' wine session has no display, and a program started
# while it lasts joins it and can make no window: it ends first.
WINEPREFIX=$prefix timeout 30 "$wineserver" -w 2>/dev/null ||
  WINEPREFIX=$prefix timeout 20 "$wineserver" -k 2>/dev/null || true

# Waits up to $2 seconds for our child $1 to end; `code` is its exit code,
# or 124 when it had not ended.
ended() {
  local pid=$1 seconds=$2 i
  code=124
  for ((i = 0; i < seconds * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      code=0
      wait "$pid" || code=$?
      return
    fi
    sleep 0.1
  done
}

(cd "$windows/bin" && wine_run ./nubrik.exe >"$work/window.txt" 2>&1) &
program=$!
if found=$(timeout 40 "$probe" find Nubrik 30); then
  read -r window width height <<<"$found"
  if [ "$width" = 800 ] && [ "$height" = 600 ]; then
    pass "window titled \"Nubrik\" with an 800 x 600 client area"
  else
    fail "window titled \"Nubrik\" is $width x $height, not 800 x 600"
  fi
  # The red square's corner; white under the green square at weight 60.
  if timeout 30 "$probe" colour "$window" 20 ff0000 52,52 55,150 150,55 60,70 &&
    timeout 30 "$probe" colour "$window" 20 c3ffc3 195,105 105,195 190,110 110,190; then
    pass "the window shows the scene (the red square, the green square's tint)"
  else
    fail "the window does not show the scene"
  fi
  started=$(date +%s%N)
  timeout 10 "$probe" close "$window" || true
  ended "$program" 10
  took=$((($(date +%s%N) - started) / 1000000))
  if [ "$code" = 0 ]; then
    pass "a close request ends it with 0 (in $took ms)"
  else
    fail "a close request ended it with $code: $(head -3 "$work/window.txt")"
  fi
else
  fail "no window titled \"Nubrik\" appeared: $(head -3 "$work/window.txt")"
fi
kill "$program" 2>/dev/null || true

# Without its pictures: a message box (also titled "Nubrik"), then 1.
(cd "$work/empty" && wine_run ./nubrik.exe >"$work/nopicture.txt" 2>&1) &
program=$!
if found=$(timeout 40 "$probe" find Nubrik 30); then
  read -r box width height <<<"$found"
  timeout 10 "$probe" close "$box" || true
  ended "$program" 10
  if [ "$code" = 1 ] && grep -q '"load.gra"' "$work/nopicture.txt"; then
    pass "a missing picture shows a message ($width x $height) naming it and ends with 1"
  else
    fail "a missing picture ended with $code: $(head -3 "$work/nopicture.txt")"
  fi
else
  fail "a missing picture showed no message: $(head -3 "$work/nopicture.txt")"
fi
kill "$program" 2>/dev/null || true

# --- Input, sent through XTEST to the interactive examples -----------------------

# The pointer waits in a corner, away from the centred window.
timeout 10 "$probe" pointer 0,0 || true
(cd "$windows/bin" && wine_run ./input_events.exe --size 320x240 >"$work/events.txt" 2>&1) &
program=$!
if found=$(timeout 40 "$probe" find "Nubrik input events" 30); then
  read -r window width height <<<"$found"
  timeout 120 "$probe" input "$window" 11 150 >"$work/expected.txt" || true
  # Windows hands posted messages (the close request) out before input:
  # the close is sent once everything else has come.
  for ((i = 0; i < 300; i++)); do
    timeout 10 "$probe" compare "$work/expected.txt" "$work/events.txt" 2>/dev/null && break
    sleep 0.1
  done
  echo '{"type":"close"}' >>"$work/expected.txt"
  timeout 10 "$probe" close "$window" || true
  ended "$program" 20
  if [ "$code" = 0 ] && why=$(timeout 10 "$probe" compare "$work/expected.txt" "$work/events.txt" 2>&1); then
    pass "input_events: $(grep -c '^{' "$work/expected.txt") events sent through XTEST arrived in order (moves may merge), then a close request ended it with 0"
  else
    fail "input_events ended with $code: ${why:-}$(grep -v '^{' "$work/events.txt" | head -3)"
  fi
else
  fail "no window titled \"Nubrik input events\" appeared: $(head -3 "$work/events.txt")"
fi
kill "$program" 2>/dev/null || true

# The 30-line program: Right moves the square off its place, Escape ends it.
(cd "$windows/bin" && wine_run ./arrows.exe >"$work/arrows.txt" 2>&1) &
program=$!
if found=$(timeout 40 "$probe" find Arrows 30); then
  read -r window width height <<<"$found"
  if timeout 30 "$probe" colour "$window" 20 ffbe00 300,240 &&
    timeout 20 "$probe" key "$window" Right 600 &&
    timeout 30 "$probe" colour "$window" 20 181c24 300,240; then
    pass "arrows: the square moves while Right is held"
  else
    fail "arrows: the square did not move with Right held"
  fi
  timeout 20 "$probe" key "$window" Escape || true
  ended "$program" 20
  if [ "$code" = 0 ]; then
    pass "arrows: Escape ends it with 0"
  else
    fail "arrows: Escape ended it with $code: $(head -3 "$work/arrows.txt")"
  fi
else
  fail "no window titled \"Arrows\" appeared: $(head -3 "$work/arrows.txt")"
fi
kill "$program" 2>/dev/null || true

if [ "$failures" -ne 0 ]; then
  echo "windows-checks ($arch): $failures failed"
  exit 1
fi
echo "windows-checks ($arch): all passed"
