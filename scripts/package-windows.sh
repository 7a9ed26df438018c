#!/usr/bin/env bash
# Makes the Windows download, build-win/orvane-VERSION-win64.zip: orvane.exe (stripped), a
# README.txt for Windows and the licence, in one folder named like the zip. Builds first (as
# root: scripts/build-windows.sh installs what it needs) and prints the zip's path.
set -euo pipefail
cd "$(dirname "$0")/.."
dpkg-query -W -f='${Status}' zip 2>/dev/null | grep -q "install ok installed" ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq zip; }
bash scripts/build-windows.sh >/dev/null
version=$(sed -n 's/^project(orvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="orvane-$version-win64"
stage="build-win/package/$name"
rm -rf "build-win/package" "build-win/$name.zip"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/orvane.exe" build-win/bin/orvane.exe
# Notepad and every Windows editor read CR LF.
sed 's/$/\r/' packaging/windows/README.txt > "$stage/README.txt"
sed 's/$/\r/' LICENSE > "$stage/LICENSE.txt"
(cd build-win/package && zip -q -r -X "../$name.zip" "$name")
echo "build-win/$name.zip"
