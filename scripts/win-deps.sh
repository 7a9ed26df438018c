#!/usr/bin/env bash
# Builds, once per machine, the libraries the Windows build needs that Debian does not package
# for mingw, from Debian's own sources: jsoncpp, prometheus-cpp (core), libcurl (on the system's
# own TLS, Schannel, so the Windows certificate store is trusted), GoogleTest. The header-only
# SimpleIni and CLI11 are copied from their Debian packages; cpp-httplib, which Debian's package
# splits into a Linux library and a header, is taken whole from its Debian source. Everything goes to
# a prefix named after the source versions and this script, so a second build takes seconds and
# a change of either builds afresh. Prints the prefix last.
# Needs root (apt-get); expects the mingw toolchain (scripts/build-windows.sh installs it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/win-source.sh"
ensure_deb_src

toolchain="$here/../cmake/mingw-w64-x86_64.cmake"
versions="jsoncpp=$(debian_source_version libjsoncpp) prometheus=$(debian_source_version prometheus-cpp)"
versions+=" curl=$(debian_source_version curl)"
versions+=" gtest=$(dpkg-query -W -f='${Version}' googletest)"
versions+=" httplib=$(debian_source_version cpp-httplib)"
versions+=" simpleini=$(dpkg-query -W -f='${Version}' libsimpleini-dev)"
versions+=" cli11=$(dpkg-query -W -f='${Version}' libcli11-dev)"
versions+=" mingw=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)"
key=$(printf '%s\n' "$versions" | cat - "$0" "$toolchain" | sha256sum | cut -c1-16)
prefix="$ORVANE_WIN_CACHE/deps-$key"
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix/include"

cmake_build() {  # cmake_build NAME SOURCE-DIR [CMAKE ARGS...]
    local name=$1 src=$2
    shift 2
    echo "win-deps: building $name for Windows" >&2
    cmake -S "$src" -B "$work/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DORVANE_WIN_DEPS="$prefix" \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >"$work/$name.log" 2>&1 ||
        { tail -n 30 "$work/$name.log" >&2; return 1; }
    cmake --build "$work/$name" -j"$(nproc)" >>"$work/$name.log" 2>&1 &&
        cmake --install "$work/$name" >>"$work/$name.log" 2>&1 ||
        { tail -n 30 "$work/$name.log" >&2; return 1; }
}

cmake_build jsoncpp "$(debian_source libjsoncpp)" -DJSONCPP_WITH_TESTS=OFF \
    -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF \
    -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF
cmake_build prometheus-cpp "$(debian_source prometheus-cpp)" -DENABLE_PULL=OFF -DENABLE_PUSH=OFF \
    -DENABLE_COMPRESSION=OFF -DENABLE_TESTING=OFF -DUSE_THIRDPARTY_LIBRARIES=OFF \
    -DGENERATE_PKGCONFIG=OFF
cmake_build curl "$(debian_source curl)" -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_DISABLE_LDAP=ON -DCURL_USE_LIBSSH2=OFF \
    -DUSE_NGHTTP2=OFF -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF \
    -DENABLE_UNIX_SOCKETS=OFF -DENABLE_MANUAL=OFF -DCURL_CA_PATH=none -DCURL_CA_BUNDLE=none
cmake_build googletest /usr/src/googletest -Dgtest_disable_pthreads=OFF

cp "$(debian_source cpp-httplib)/httplib.h" /usr/include/SimpleIni.h "$prefix/include/"
cp -r /usr/include/CLI "$prefix/include/"
touch "$prefix/.complete"
echo "$prefix"
