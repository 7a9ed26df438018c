#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds Orvane and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/check-format.sh
bash scripts/check-test-ratio.sh
bash scripts/build.sh default
ctest --preset default -j"$(nproc)" --timeout 300
