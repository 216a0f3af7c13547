#!/usr/bin/env bash
# Cross-builds FreeType for Windows from Debian's own source package of it,
# as a static library installed into PREFIX, without its optional
# dependencies (zlib, bzip2, libpng, HarfBuzz, Brotli): the engine reads
# plain TrueType and OpenType fonts. Does nothing when PREFIX already has it.
#
# The source comes through apt with a state folder of its own under
# build/mingw-sources, as libpng's does (scripts/build-libpng-mingw.sh): the
# machine's package lists stay as they are; the newest version the archive
# serves is taken.
#
# usage: build-freetype-mingw.sh x86_64|i686 PREFIX
set -euo pipefail
# shellcheck source=scripts/mingw-target.sh
. "$(dirname "$0")/mingw-target.sh"
mingw_target build-freetype-mingw.sh "$@"
if [ -f "$prefix/lib/libfreetype.a" ] && [ -f "$prefix/include/freetype2/ft2build.h" ]; then
  exit 0
fi

sources=$root/build/mingw-sources
state=$sources/apt-freetype
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/sources.list.d"
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mapfile -t entries < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' |
  awk -v main="$codename" '$2 == main || $2 == main "-security" { print "deb-src " $1 " " $2 " main" }' |
  sort -u)
if [ -z "$codename" ] || [ ${#entries[@]} -eq 0 ]; then
  echo "build-freetype-mingw.sh: apt uses no Debian archive for the release '$codename'" >&2
  exit 1
fi
printf '%s\n' "${entries[@]}" >"$state/sources.list"
apt_options=(
  -o "Dir::State=$state" -o "Dir::Cache=$state/cache"
  -o "Dir::Etc::SourceList=$state/sources.list" -o "Dir::Etc::SourceParts=$state/sources.list.d"
  -o "APT::Sandbox::User=root" -o "Acquire::Retries=3"
)

source_dir=$sources/freetype
if [ ! -f "$source_dir/include/ft2build.h" ]; then
  timeout 300 apt-get "${apt_options[@]}" -qq update || true
  mapfile -t versions < <(apt-cache "${apt_options[@]}" showsrc freetype 2>/dev/null |
    sed -n 's/^Version: //p' | sort -u -r -V)
  if [ ${#versions[@]} -eq 0 ]; then
    echo "build-freetype-mingw.sh: the archive lists no source of freetype" >&2
    exit 1
  fi
  download=$sources/download-freetype
  fetched=""
  for version in "${versions[@]}"; do
    rm -rf "$download"
    mkdir -p "$download"
    if (cd "$download" && timeout 300 apt-get "${apt_options[@]}" -qq source --download-only \
      "freetype=$version" >/dev/null 2>&1); then
      fetched=$version
      break
    fi
    echo "freetype $version: the archive does not serve its source; trying an older one"
  done
  if [ -z "$fetched" ]; then
    echo "build-freetype-mingw.sh: no version of freetype's source could be fetched" >&2
    exit 1
  fi
  rm -rf "$source_dir"
  (cd "$download" && dpkg-source --no-check -x ./*.dsc "$source_dir" >/dev/null)
  echo "freetype $fetched: source with Debian's patches in $source_dir"
fi

# Without zlib FreeType would compile in its own copy, whose symbols clash
# with the zlib that libpng brings: gzip-compressed fonts are not read.
sed -i 's|^#define FT_CONFIG_OPTION_USE_ZLIB$|/* #define FT_CONFIG_OPTION_USE_ZLIB */|' \
  "$source_dir/include/freetype/config/ftoption.h"

build_dir=$sources/freetype-build-$1
rm -rf "$build_dir"
cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DNUBRIK_WINE=OFF \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
  -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
  -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON >/dev/null
cmake --build "$build_dir" -j2 >/dev/null
cmake --install "$build_dir" >/dev/null
echo "FreeType for $1 Windows installed in $prefix"
