#!/usr/bin/env bash
# Makes the Windows downloads: build-win/orvane-VERSION-win64.zip, orvane.exe (stripped), a
# README.txt for Windows and the licence in one folder named like the zip, and
# build-win/orvane-VERSION-setup.exe, the installer of the same files (packaging/windows/
# orvane.nsi). Builds first (as root: scripts/build-windows.sh installs what it needs) and
# prints the installer's path, then the zip's (last).
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
# The installer, from the same files.
makensis -V2 -DVERSION="$version" -DSTAGE="$PWD/$stage" \
    -DOUTFILE="$PWD/build-win/orvane-$version-setup.exe" packaging/windows/orvane.nsi >/dev/null
echo "build-win/orvane-$version-setup.exe"
echo "build-win/$name.zip"
