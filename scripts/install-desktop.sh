#!/usr/bin/env bash
# Installs what the window needs from the desktop (as root): the font alias of its Chinese
# layout, its icon, and a menu entry that starts build/bin/orvane of this checkout.
# Safe to run again: every file is simply rewritten.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "$(id -u)" -ne 0 ]; then
    echo "install-desktop.sh: run as root" >&2
    exit 1
fi

install -D -m 0644 data/fontconfig/65-orvane-simsun.conf /etc/fonts/conf.d/65-orvane-simsun.conf
if command -v fc-cache >/dev/null 2>&1; then
    fc-cache -s >/dev/null 2>&1 || true
fi

install -D -m 0644 data/icons/orvane-32.png /usr/share/icons/hicolor/32x32/apps/orvane.png
install -D -m 0644 data/icons/orvane-64.png /usr/share/icons/hicolor/64x64/apps/orvane.png
if command -v gtk-update-icon-cache >/dev/null 2>&1; then
    gtk-update-icon-cache -q -t /usr/share/icons/hicolor >/dev/null 2>&1 || true
fi

# Exec names this checkout's program, so the entry follows a rebuild; the working folder is
# the program's, where Upgrade.log is then written.
mkdir -p /usr/share/applications
sed -e "s|@ORVANE_BIN@|$root/build/bin|g" data/orvane.desktop.in \
    >/usr/share/applications/orvane.desktop
chmod 0644 /usr/share/applications/orvane.desktop
