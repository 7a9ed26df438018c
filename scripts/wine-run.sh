#!/bin/bash
# Runs one Windows program under Wine the way the Windows tests need it: in a private network
# namespace with only loopback up (so tests may bind the service's fixed ports and never reach
# another address), with a wineserver of its own started inside that namespace (Wine lists
# adapters through a helper of the wineserver: one started outside would show the host's), and
# on a throw-away layer over one prepared prefix, so runs neither see nor change each other.
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
# ORVANE_WINE_PREFIX names the prepared prefix (made on first use; default
# /var/cache/orvane/wine-prefix). ORVANE_WINE_NET=host keeps the caller's network namespace
# (for a caller that already made one, such as the road test).
set -euo pipefail
wine=/usr/lib/wine/wine64
template=${ORVANE_WINE_PREFIX:-/var/cache/orvane/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
# Wine reads the command line and names in the locale's character set: UTF-8, as ours.
export LC_ALL=C.UTF-8

if [ ! -f "$template/system.reg" ]; then
    mkdir -p "$(dirname "$template")"
    # One preparer at a time; the others wait for its prefix.
    exec 9>"$template.lock"
    flock 9
    if [ ! -f "$template/system.reg" ]; then
        rm -rf "$template.new"
        # A wineserver of its own for the preparation, in a namespace of its own.
        unshare --mount --fork bash -c '
            mount -t tmpfs tmpfs /tmp/.wine-0 2>/dev/null || { mkdir -p /tmp/.wine-0; mount -t tmpfs tmpfs /tmp/.wine-0; }
            WINEPREFIX="$1" '"$wine"' wineboot -i >/dev/null 2>&1
            WINEPREFIX="$1" /usr/lib/wine/wineserver -w' _ "$template.new"
        mv "$template.new" "$template"
    fi
    exec 9>&-
fi

if [ -z "${ORVANE_WINE_INSIDE:-}" ]; then
    net=(--net)
    [ "${ORVANE_WINE_NET:-}" = host ] && net=()
    # unshare neither passes a signal on nor ends by it: the script inside it is told here.
    ORVANE_WINE_INSIDE=1 unshare "${net[@]}" --mount --fork bash "$0" "$@" <&0 &
    outer=$!
    trap 'pkill -TERM -P "$outer" 2>/dev/null || true' TERM INT
    status=0
    while kill -0 "$outer" 2>/dev/null; do
        wait "$outer" && status=0 || status=$?
    done
    exit "$status"
fi

mount --make-rprivate /
if [ "${ORVANE_WINE_NET:-}" != host ]; then
    ip link set lo up
    export ORVANE_WINE_PRIVATE_NET=1
    # This namespace's own view of the network devices.
    mount -t sysfs sysfs /sys
fi
mkdir -p /tmp/.wine-0
mount -t tmpfs tmpfs /tmp/.wine-0
layer=$(mktemp -d /tmp/orvane-wine.XXXXXX)
mount -t tmpfs tmpfs "$layer"
mkdir -p "$layer/upper" "$layer/work" "$layer/prefix"
mount -t overlay overlay -o "lowerdir=$template,upperdir=$layer/upper,workdir=$layer/work" \
    "$layer/prefix"
export WINEPREFIX=$layer/prefix
# SIGTERM or SIGINT for this script reaches the program as the Ctrl+C Wine makes of a SIGINT,
# so a caller stops it cleanly as it would stop the Linux build. A window program has no
# console to take the Ctrl+C: ten seconds on, everything of this session is ended.
"$wine" "$@" <&0 &
program=$!
trap 'kill -INT "$program" 2>/dev/null || true
      (sleep 10; /usr/lib/wine/wineserver -k 2>/dev/null) &' TERM INT
status=0
while kill -0 "$program" 2>/dev/null; do
    wait "$program" && status=0 || status=$?
done
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w 2>/dev/null || true
umount "$layer/prefix" "$layer" 2>/dev/null || true
rmdir "$layer" 2>/dev/null || true
exit "$status"
