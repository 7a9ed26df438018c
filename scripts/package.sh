#!/usr/bin/env bash
# Builds the Debian package orvane_VERSION_amd64.deb into build-package/ (optimised,
# Debian's hardening flags, stripped, no tests) and prints its path. Expects install-deps.sh done.
set -euo pipefail
cd "$(dirname "$0")/.."
# Debian's build flags; CMake reads CFLAGS, CXXFLAGS and LDFLAGS but not CPPFLAGS.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_STRIP="$PWD/packaging/strip-for-package" -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -- -j"$(nproc)"
rm -f build-package/orvane_*.deb
(cd build-package && cpack -G DEB >/dev/null)
ls build-package/orvane_*_amd64.deb
