#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks and the
# demonstration need. Does nothing when all of them are present.
#
#   install-deps.sh            the Linux build
#   install-deps.sh --library  only what building and installing the library
#                              needs (the library preset)
#   install-deps.sh --windows  and the Windows cross builds (make windows)
#   install-deps.sh --wine32   tries wine32 for the 32-bit Windows build's
#                              tests; exit code 1, with the reason in one
#                              line, where it cannot be installed
set -euo pipefail

# What the library needs: a compiler, CMake 3.25 or later, Ninja, libpng,
# zlib and FreeType, and X11 with its Xext for the X11 window.
library_packages=(
  build-essential cmake ninja-build pkg-config
  libpng-dev zlib1g-dev libfreetype-dev libx11-dev libxext-dev
)

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  libgtest-dev libbenchmark-dev
  libpng-dev zlib1g-dev libx11-dev libxext-dev libxtst-dev
  libfreetype-dev fonts-dejavu-core
  libpixman-1-dev
  xvfb x11-utils
)

# The cross compilers, wine for 64-bit programs, zlib for mingw-w64, and
# what the cross builds of libpng (its Debian source) and GoogleTest need.
windows_packages=(
  mingw-w64 wine wine64 libz-mingw-w64-dev
  dpkg-dev googletest
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# wine32 needs the i386 architecture, whose packages must match the amd64
# ones installed. Whether they do is first found out in an apt state of its
# own, so that a machine where they do not keeps its package lists as they
# are.
install_wine32() {
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    return 0
  fi
  local state
  state=$(mktemp -d)
  trap 'rm -rf "$state"' RETURN
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
  local probe=(-o "Dir::State=$state" -o "Dir::Cache=$state/cache" -o "APT::Sandbox::User=root"
    -o "APT::Architectures::=$(dpkg --print-architecture)" -o "APT::Architectures::=i386")
  local why
  why=$(timeout 300 apt-get "${probe[@]}" -qq update 2>&1 | grep '^E:' | head -1 || true)
  if [ -z "$why" ]; then
    why=$(timeout 120 apt-get "${probe[@]}" -s -qq install wine32:i386 2>&1 | grep '^E:' | head -1 ||
      true)
  fi
  if [ -n "$why" ]; then
    echo "wine32 cannot be installed here: ${why#E: }"
    return 1
  fi
  local added=""
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    added=yes
  fi
  if timeout 600 $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq &&
    timeout 900 $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends \
      wine32:i386; then
    return 0
  fi
  echo "wine32 cannot be installed here: apt-get failed to install it"
  if [ -n "$added" ] && ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx i386; then
    $sudo dpkg --remove-architecture i386
    $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq || true
  fi
  return 1
}

case "${1:-}" in
  "") ;;
  --library) packages=("${library_packages[@]}") ;;
  --windows) packages+=("${windows_packages[@]}") ;;
  --wine32)
    install_wine32 || exit 1
    # Some kernels (and containers) run no 32-bit programs at all.
    if ! timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1; then
      echo "wine32 is installed but cannot run here: this system runs no 32-bit programs"
      exit 1
    fi
    exit 0
    ;;
  *)
    echo "usage: install-deps.sh [--library | --windows | --wine32]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
$sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
$sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
