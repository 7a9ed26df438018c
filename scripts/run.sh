#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds Orvane and runs it headless on the first
# non-loopback IPv4 address, serving ./Firmware. Extra arguments go to orvane.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh default
mkdir -p Firmware
ip=$(ip -4 -o addr show scope global | awk '{sub(/\/.*/, "", $4); print $4; exit}')
if [ -z "$ip" ]; then
    echo "run.sh: this machine has no non-loopback IPv4 address to serve from" >&2
    exit 1
fi
exec build/bin/orvane --headless --ip "$ip" --folder Firmware "$@"
