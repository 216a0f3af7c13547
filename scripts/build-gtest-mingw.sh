#!/usr/bin/env bash
# Cross-builds GoogleTest for Windows from the sources Debian ships in
# /usr/src/googletest (package googletest; Debian has no mingw-w64 build of
# it), as static libraries installed into PREFIX. Does nothing when PREFIX
# already has them.
#
# usage: build-gtest-mingw.sh x86_64|i686 PREFIX
set -euo pipefail
# shellcheck source=scripts/mingw-target.sh
. "$(dirname "$0")/mingw-target.sh"
mingw_target build-gtest-mingw.sh "$@"
if [ -f "$prefix/lib/libgtest_main.a" ]; then
  exit 0
fi
source_dir=/usr/src/googletest
if [ ! -f "$source_dir/CMakeLists.txt" ]; then
  echo "build-gtest-mingw.sh: no GoogleTest sources in $source_dir (package googletest)" >&2
  exit 1
fi

build_dir=$root/build/mingw-sources/gtest-$1
rm -rf "$build_dir"
cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DNUBRIK_WINE=OFF \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=ON >/dev/null
cmake --build "$build_dir" -j2 >/dev/null
cmake --install "$build_dir" >/dev/null
echo "GoogleTest for $1 Windows installed in $prefix"
