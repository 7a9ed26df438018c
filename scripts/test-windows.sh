#!/usr/bin/env bash
# Builds Orvane for Windows and proves it under Wine: the unit suite (through the emulator
# wrapper, each program in a network namespace of its own), then the whole road with 50
# devices, clean and through 5 % TFTP loss each way, the window's road with 20, the
# installer's silent round and the zip of the download. Needs the Linux build for the device
# simulator (scripts/build.sh default); as root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-windows.sh
ctest --test-dir build-win -j"$(nproc)" --timeout 600 --output-on-failure
bash scripts/test-windows-road.sh 50 0
bash scripts/test-windows-road.sh 50 5
bash scripts/test-windows-window.sh 20 2
# The download: the zip holds the program, its README and the licence, and the program runs.
downloads=$(bash scripts/package-windows.sh)
zip=$(tail -n 1 <<< "$downloads")
bash scripts/test-windows-installer.sh "$(head -n 1 <<< "$downloads")"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
name=$(basename "$zip" .zip)
for f in orvane.exe README.txt LICENSE.txt; do
    [ -f "$unpacked/$name/$f" ] || { echo "$zip lacks $f" >&2; exit 1; }
done
version=${name#orvane-}
bash scripts/wine-run.sh "$unpacked/$name/orvane.exe" --version | tr -d "\r" | grep -qx "Orvane_V${version%-win64}" ||
    { echo "the zip's orvane.exe does not run" >&2; exit 1; }
