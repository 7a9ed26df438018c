#!/usr/bin/env bash
# The Windows window under Wine on a virtual X server (Xvfb): orvane.exe without --headless in
# one network namespace, the Linux orvane-devsim in another across a veth pair (the road of
# scripts/test-windows-road.sh). Start is pressed as an operator presses it (xdotool), DEVICES
# devices go through the road, every one must end in the upgrade record the window writes,
# then Stop is pressed and the program must still be there, the system menu's About item
# must open the About box, and Escape must end the program (status 0). With SHOT (a .png
# path), a picture of the window with its rows is taken before Stop. LANGUAGE is Config.ini's AppLanguage
# (1 Chinese, 2 English); Wine shows SimSun with Debian's AR PL UMing.
# Usage (root, after scripts/build.sh and scripts/build-windows.sh):
#   bash scripts/test-windows-window.sh [DEVICES] [LANGUAGE] [SHOT]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/netns_pair.sh"
devices=${1:-20}
language=${2:-2}
shot=${3:-}
winbin="$root/build-win/bin"
bin="$root/build/bin"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }
for f in "$winbin/orvane.exe" "$bin/orvane-devsim" "$bin/orvane-mkfw"; do
    [ -x "$f" ] || { echo "missing $f (build both targets first)" >&2; exit 2; }
done
for tool in xdotool Xvfb import; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/build-windows.sh installs it)" >&2; exit 2; }
done

srv="orvane-wwin-srv-$$"
dev="orvane-wwin-dev-$$"
work="$(mktemp -d /tmp/orvane-windows-window-XXXXXX)"
pid=""
xvfb=""
cleanup() {
    [ -n "$pid" ] && { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
    [ -n "$xvfb" ] && { kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; }
    netns_pair_delete "$srv" "$dev"
    [ -n "${ORVANE_KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "windows window: $*" >&2
    tail -5 "$work/orvane.err" >&2 || true
    exit 1
}

netns_pair "$srv" "$dev" "oxs$$" "oxd$$" 10.252.0.1/24 10.252.0.2/24
netns_device_addresses "$srv" "$dev" 10.252.0.2 10.78.0.0/16

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.err" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

cp "$winbin/orvane.exe" "$work/"
mkdir "$work/fw"
"$bin/orvane-mkfw" --version X_M100_V2.0.0.0 --image 240K --pad-to 256K "$work/fw/M100.bin" \
    >/dev/null
# Wine sees the root as drive Z:.
printf '[CNFINFO]\r\nAppLanguage=%s\r\nPath=Z:%s\r\nIpCheck=0\r\n' "$language" \
    "$(tr / '\\' <<< "$work/fw")" > "$work/Config.ini"
cat > "$work/fonts.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"SimSun"="AR PL UMing CN"
"宋体"="AR PL UMing CN"
REG
# One Wine session: the font replacement, then the program (the prefix layer is the run's own).
(cd "$work" && exec env ORVANE_WINE_NET=host ORVANE_UPDATE_HOST=127.0.0.1 \
    ip netns exec "$srv" bash "$root/scripts/wine-run.sh" cmd /c \
    "regedit /s fonts.reg && orvane.exe" > "$work/orvane.out" 2> "$work/orvane.err" < /dev/null) &
pid=$!
window=""
for _ in $(seq 600); do  # a first start of Wine takes seconds
    window=$(xdotool search --name '^Orvane_V' 2>/dev/null | head -1) && [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$window" ] || fail "the window did not open"
sleep 2  # the window fills its boxes after it shows

# Start Upgrade: the button at the top right, in both languages' layouts.
press_start() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove --sync --window "$window" "$((WIDTH - 73))" 27 click 1
}
press_start
sleep 4  # Start's checks and the ports, off the window's thread
out=$(timeout 300 ip netns exec "$dev" "$bin/orvane-devsim" --server 10.252.0.1 \
    --source-from 10.78.0.1 --devices "$devices" --compare "$work/fw/M100.bin" \
    2> "$work/devsim.err") || fail "orvane-devsim failed: $out $(tail -3 "$work/devsim.err")"
sleep 2  # the last reports reach the window's rows
recorded=$(grep -c ',success,' "$work/upgrades.csv" 2>/dev/null || true)
[ "$recorded" = "$devices" ] || fail "the record holds $recorded successes, not $devices"
[ -z "$shot" ] || import -window root -crop "$(xdotool getwindowgeometry "$window" |
    sed -n 's/.*Geometry: //p')+$X+$Y" +repage "$shot"
press_start  # now Stop
sleep 3
kill -0 "$pid" 2>/dev/null || fail "the program ended at Stop"
# The About box from the system menu: Alt+Space opens it, Up wraps to its last item, ours.
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" alt+space
sleep 1
xdotool key Up Return
about=""
for _ in $(seq 50); do
    about=$(xdotool search --name '^关于 Orvane$' 2>/dev/null | head -1) && [ -n "$about" ] && break
    sleep 0.1
done
[ -n "$about" ] || fail "the system menu's About item opened no About box"
xdotool key --window "$about" Escape
for _ in $(seq 50); do xdotool search --name '^关于 Orvane$' >/dev/null 2>&1 || break; sleep 0.1; done
xdotool search --name '^关于 Orvane$' >/dev/null 2>&1 && fail "the About box did not close"
# Escape closes a stopped window without asking; the program then ends by itself.
xdotool key --window "$window" Escape 2>/dev/null
for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end when its window closed"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" = 0 ] || fail "orvane ended with $status"
echo "windows_window devices=$devices language=$language"
