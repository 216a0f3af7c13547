#!/usr/bin/env bash
# Runs a Windows program under wine in a prefix of its own, made on first
# use: the build's tools and tests (CMake's emulator for the mingw presets)
# and the Windows checks. Quiet, offline (no add-on installers), and bounded
# in time: NUBRIK_WINE_TIMEOUT seconds, 600 unless set.
#
# usage: wine-run.sh win64|win32 PREFIX PROGRAM [ARGUMENTS...]
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: wine-run.sh win64|win32 PREFIX PROGRAM [ARGUMENTS...]" >&2
  exit 2
fi
arch=$1
prefix=$2
shift 2
case "$arch" in
  win64) loader=/usr/lib/wine/wine64 ;;
  win32) loader=/usr/lib/wine/wine ;;
  *)
    echo "wine-run.sh: unknown architecture '$arch' (win64 or win32)" >&2
    exit 2
    ;;
esac
if [ ! -x "$loader" ]; then
  loader=$(command -v wine || true)
  if [ -z "$loader" ]; then
    echo "wine-run.sh: wine is not installed (make windows installs it)" >&2
    exit 127
  fi
fi

export WINEPREFIX=$prefix WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
# No prompts to fetch the .NET and HTML add-ons: nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
limit=${NUBRIK_WINE_TIMEOUT:-600}

# A fresh prefix takes seconds to make; tests started side by side make it once.
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      timeout -k 10 300 "$loader" wineboot --init >/dev/null 2>&1 || true
      timeout -k 10 60 "$(dirname "$loader")/wineserver" -w 2>/dev/null || true
    fi
  ) 9>"$prefix.lock"
  if [ ! -f "$prefix/system.reg" ]; then
    echo "wine-run.sh: could not make the wine prefix $prefix ($arch)" >&2
    exit 1
  fi
fi

exec timeout -k 10 "$limit" "$loader" "$@"
