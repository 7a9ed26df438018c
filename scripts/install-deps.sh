#!/usr/bin/env bash
# Installs every Debian 12 package Orvane needs to build, run and test.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps.sh: run as root (it calls apt-get)" >&2
    exit 1
fi

packages=(
    # build
    build-essential cmake ninja-build pkg-config clang-format
    # libraries
    libwxgtk3.2-dev libjsoncpp-dev libcurl4-openssl-dev libssl-dev zlib1g-dev
    libsimpleini-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev libisal-dev
    libcpp-httplib-dev prometheus-cpp-dev
    # window tests
    xvfb xauth imagemagick fonts-liberation2 fonts-arphic-uming
    # network tests and real peers
    iproute2 iptables procps curl tftp-hpa atftp busybox tftpd-hpa openssl
    python3
    # the web view's browser test and the metrics check
    chromium chromium-driver python3-selenium prometheus
    # fast local rebuilds (builds use it only when CMAKE_CXX_COMPILER_LAUNCHER names it)
    ccache
    # fuzzing (scripts/fuzz.sh)
    clang libclang-rt-14-dev
    # the Debian package (scripts/package.sh) and its checks
    dpkg-dev help2man lintian systemd
)

export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The window's font alias, icon and menu entry.
bash "$(dirname "$0")/install-desktop.sh"

# tftpd-hpa is only a benchmark peer: never leave its system service holding port 69.
if command -v systemctl >/dev/null 2>&1; then
    systemctl disable --now tftpd-hpa >/dev/null 2>&1 || true
fi
if [ -x /etc/init.d/tftpd-hpa ]; then
    /etc/init.d/tftpd-hpa stop >/dev/null 2>&1 || true
fi
# Prometheus is only the many-sites check's scraper: the scripts start their own.
if command -v systemctl >/dev/null 2>&1; then
    systemctl disable --now prometheus >/dev/null 2>&1 || true
fi
if [ -x /etc/init.d/prometheus ]; then
    /etc/init.d/prometheus stop >/dev/null 2>&1 || true
fi
exit 0
