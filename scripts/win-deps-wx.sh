#!/usr/bin/env bash
# Builds wxWidgets' MSW port for the Windows window, static, from Debian's own wxwidgets3.2
# source package, into a cache prefix of its own:
#   $ORVANE_WIN_CACHE/wx-<source version>-<hash of this script>/
# Nothing happens when that prefix is already complete. The prefix is the last line printed,
# so the caller can hand it to CMake (ORVANE_WX_MSW_PREFIX). Needs root (apt-get source) and
# the mingw-w64 posix toolchain. Takes about ten minutes of two cores the first time.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=win-source.sh
. "$here/win-source.sh"

ensure_deb_src
version=$(debian_source_version wxwidgets3.2)
[ -n "$version" ] || { echo "win-deps-wx: Debian has no wxwidgets3.2 source" >&2; exit 1; }
hash=$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-12)
prefix="$ORVANE_WIN_CACHE/wx-$version-$hash"

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

src=$(debian_source wxwidgets3.2)
build="$ORVANE_WIN_CACHE/build/wx-$version-$hash"
rm -rf "$build"
mkdir -p "$build"

# The bundled png/jpeg/tiff/expat are stripped from Debian's source, so the port is built
# without them; the window needs none of them (its icon comes from the resource file).
# The host's pkg-config would hand the cross build Linux paths.
(
    cd "$build"
    PKG_CONFIG_LIBDIR=/dev/null "$src/configure" \
        --prefix="$prefix" \
        --host=x86_64-w64-mingw32 --build=x86_64-linux-gnu \
        CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix \
        --with-msw --disable-shared \
        --without-libpng --without-libjpeg --without-libtiff --without-liblzma \
        --with-zlib=sys --without-expat --disable-svg --disable-xrc --disable-html \
        --disable-webview --disable-mediactrl --disable-stc --disable-ribbon \
        --disable-propgrid --disable-richtext --disable-aui --without-opengl \
        --with-regex=builtin >configure.log 2>&1 ||
        { tail -n 40 configure.log >&2; exit 1; }
    make -j"${ORVANE_WX_JOBS:-2}" >make.log 2>&1 || { tail -n 40 make.log >&2; exit 1; }
    make install DESTDIR="$build/stage" >install.log 2>&1 ||
        { tail -n 40 install.log >&2; exit 1; }
) >&2

# wx-config names the prefix it was configured with; it is moved into place only once whole.
rm -rf "$prefix"
mv "$build/stage$prefix" "$prefix"
touch "$prefix/.complete"
rm -rf "$build"
echo "$prefix"
