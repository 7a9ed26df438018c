#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds Orvane and runs it: the window when a
# display is there (DISPLAY or WAYLAND_DISPLAY set), otherwise headless on the first
# non-loopback IPv4 address, serving ./Firmware. Extra arguments go to headless orvane.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "$#" -eq 0 ]; then
    exec build/bin/orvane
fi
mkdir -p Firmware
ip=$(ip -4 -o addr show scope global | awk '{sub(/\/.*/, "", $4); print $4; exit}')
if [ -z "$ip" ]; then
    echo "run.sh: this machine has no non-loopback IPv4 address to serve from" >&2
    exit 1
fi
exec build/bin/orvane --headless --ip "$ip" --folder Firmware "$@"
