#!/usr/bin/env bash
# Builds Orvane for Windows and proves it under Wine: the unit suite (through the emulator
# wrapper, each program in a network namespace of its own), then the whole road with 50
# devices, clean and through 5 % TFTP loss each way. Needs the Linux build for the device
# simulator (scripts/build.sh default); as root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-windows.sh
ctest --test-dir build-win -j"$(nproc)" --timeout 600 --output-on-failure
bash scripts/test-windows-road.sh 50 0
bash scripts/test-windows-road.sh 50 5
