#!/usr/bin/env bash
# Cross-builds libpng for Windows from Debian's own source package of it,
# with Debian's zlib for mingw-w64 (libz-mingw-w64-dev), as a static library
# installed into PREFIX. Does nothing when PREFIX already has it.
#
# The source comes through apt with a state folder of its own under
# build/mingw-sources, so the machine's package lists stay as they are. The
# newest version the archive offers is taken; one that cannot be fetched
# (the security suite may list sources it does not serve) gives way to the
# next, down to the main suite's.
#
# usage: build-libpng-mingw.sh x86_64|i686 PREFIX
set -euo pipefail
# shellcheck source=scripts/mingw-target.sh
. "$(dirname "$0")/mingw-target.sh"
mingw_target build-libpng-mingw.sh "$@"
if [ -f "$prefix/lib/libpng16.a" ] && [ -f "$prefix/include/png.h" ]; then
  exit 0
fi

sources=$root/build/mingw-sources
state=$sources/apt
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/sources.list.d"

# The archive and suites apt already uses for this release, as source
# entries (signed by the keys apt already trusts).
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mapfile -t entries < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' |
  awk -v main="$codename" '$2 == main || $2 == main "-security" { print "deb-src " $1 " " $2 " main" }' |
  sort -u)
if [ -z "$codename" ] || [ ${#entries[@]} -eq 0 ]; then
  echo "build-libpng-mingw.sh: apt uses no Debian archive for the release '$codename'" >&2
  exit 1
fi
printf '%s\n' "${entries[@]}" >"$state/sources.list"
apt_options=(
  -o "Dir::State=$state" -o "Dir::Cache=$state/cache"
  -o "Dir::Etc::SourceList=$state/sources.list" -o "Dir::Etc::SourceParts=$state/sources.list.d"
  -o "APT::Sandbox::User=root" -o "Acquire::Retries=3"
)

source_dir=$sources/libpng
if [ ! -f "$source_dir/png.h" ]; then
  # An index that fails (see above) leaves the others usable.
  timeout 300 apt-get "${apt_options[@]}" -qq update || true
  mapfile -t versions < <(apt-cache "${apt_options[@]}" showsrc libpng1.6 2>/dev/null |
    sed -n 's/^Version: //p' | sort -u -r -V)
  if [ ${#versions[@]} -eq 0 ]; then
    echo "build-libpng-mingw.sh: the archive lists no source of libpng1.6" >&2
    exit 1
  fi
  download=$sources/download
  fetched=""
  for version in "${versions[@]}"; do
    rm -rf "$download"
    mkdir -p "$download"
    if (cd "$download" && timeout 300 apt-get "${apt_options[@]}" -qq source --download-only \
      "libpng1.6=$version" >/dev/null 2>&1); then
      fetched=$version
      break
    fi
    echo "libpng1.6 $version: the archive does not serve its source; trying an older one"
  done
  if [ -z "$fetched" ]; then
    echo "build-libpng-mingw.sh: no version of libpng1.6's source could be fetched" >&2
    exit 1
  fi
  rm -rf "$source_dir"
  (cd "$download" && dpkg-source --no-check -x ./*.dsc "$source_dir" >/dev/null)
  echo "libpng1.6 $fetched: source with Debian's patches in $source_dir"
fi

build_dir=$sources/build-$1
rm -rf "$build_dir"
cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DNUBRIK_WINE=OFF \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DSKIP_INSTALL_PROGRAMS=ON -DSKIP_INSTALL_FILES=ON >/dev/null
cmake --build "$build_dir" -j2 >/dev/null
cmake --install "$build_dir" >/dev/null
echo "libpng for $1 Windows installed in $prefix"
