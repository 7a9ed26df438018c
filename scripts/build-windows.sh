#!/usr/bin/env bash
# Cross-builds Orvane for 64-bit Windows into build-win/bin (orvane.exe, its window included,
# and the tools, static: no DLL beside them but the system's). Installs what it and the Windows
# tests need (as root: Wine, the installer's makensis, Xvfb, xdotool and a CJK font for the
# window test); the libraries Debian does not package for mingw are built once from Debian's
# own sources (scripts/win-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 nsis
    dpkg-dev cmake ninja-build libjsoncpp-dev libcpp-httplib-dev libsimpleini-dev libcli11-dev
    googletest imagemagick xvfb xdotool fonts-arphic-uming)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
ORVANE_WIN_DEPS=$(bash scripts/win-deps.sh | tail -n 1)
# The window's toolkit, wxWidgets' MSW port (ten minutes the first time, then cached).
ORVANE_WX_MSW_PREFIX=$(bash scripts/win-deps-wx.sh | tail -n 1)
export ORVANE_WIN_DEPS ORVANE_WX_MSW_PREFIX
cmake --preset windows -DORVANE_WIN_DEPS="$ORVANE_WIN_DEPS" \
    -DORVANE_WX_MSW_PREFIX="$ORVANE_WX_MSW_PREFIX" -DORVANE_BUILD_TESTS=ON >/dev/null
cmake --build --preset windows -- -j"$(nproc)"
ls -l build-win/bin
