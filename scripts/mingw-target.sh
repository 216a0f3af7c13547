# shellcheck shell=bash
# Sourced by the mingw-w64 dependency builds: checks their two arguments
# (x86_64|i686 PREFIX) and sets `root`, `prefix` and `toolchain`.
# usage: mingw_target SCRIPT-NAME "$@"
# shellcheck disable=SC2034 # the variables are for the sourcing script
mingw_target() {
  local name=$1
  shift
  if [ $# -ne 2 ]; then
    echo "usage: $name x86_64|i686 PREFIX" >&2
    exit 2
  fi
  prefix=$(realpath -m "$2")
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  case "$1" in
    x86_64) toolchain=$root/cmake/toolchains/mingw64.cmake ;;
    i686) toolchain=$root/cmake/toolchains/mingw32.cmake ;;
    *)
      echo "$name: unknown processor '$1' (x86_64 or i686)" >&2
      exit 2
      ;;
  esac
  cd "$root" || exit 1
}
