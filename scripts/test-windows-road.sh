#!/usr/bin/env bash
# The whole road on Windows: orvane.exe --headless under Wine in one network namespace, the
# Linux orvane-devsim in another across a veth pair (10.252.0.1 server, 10.252.0.2 devices,
# each device fetching from its own 10.78.x.y). Every device must be answered, download its
# file byte for byte and report; every row must end "Upgrade complete" at 100 %, the success
# count, the upgrade record and the web view's /metrics and /api/devices must show every
# device, and Orvane must stop cleanly (exit 0) at SIGTERM. With LOSS_PERCENT, each namespace
# drops that share of the TFTP datagrams arriving on its input hook (iptables statistic,
# random). The device ports are spared: a device sends each report once, so a lost report
# leaves its row at the stage before on any system.
# Prints one line "windows_road devices=N loss=P road_s=S" on success. ORVANE_ROAD_BUILD=linux
# runs the same road with the Linux build instead (the benchmark's yardstick).
# Usage (root, after scripts/build.sh and scripts/build-windows.sh):
#   bash scripts/test-windows-road.sh [DEVICES] [LOSS_PERCENT] [PACKAGE_KIB]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/netns_pair.sh"
devices=${1:-50}
loss=${2:-0}
kib=${3:-256}
winbin="$root/build-win/bin"
bin="$root/build/bin"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }
for f in "$winbin/orvane.exe" "$bin/orvane-devsim" "$bin/orvane-mkfw"; do
    [ -x "$f" ] || { echo "missing $f (build both targets first)" >&2; exit 2; }
done

srv="orvane-wroad-srv-$$"
dev="orvane-wroad-dev-$$"
work="$(mktemp -d /tmp/orvane-windows-road-XXXXXX)"
pid=""
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    netns_pair_delete "$srv" "$dev"
    [ -n "${ORVANE_KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "windows road: $*" >&2
    # Datagrams the server's kernel dropped for a full socket receive buffer, and UDP errors.
    ip netns exec "$srv" awk '$1 == "Udp:" && $2 ~ /^[0-9]/ {print "udp in-errors=" $4 " rcvbuf-errors=" $6}' \
        /proc/net/snmp >&2 || true
    tail -5 "$work/orvane.err" >&2 || true
    exit 1
}

netns_pair "$srv" "$dev" "ows$$" "owd$$" 10.252.0.1/24 10.252.0.2/24
netns_device_addresses "$srv" "$dev" 10.252.0.2 10.78.0.0/16
if [ "$loss" != 0 ]; then
    for ns in "$srv" "$dev"; do
        ip netns exec "$ns" iptables -A INPUT -p udp -m multiport ! --ports 10010,10011 \
            -m statistic --mode random \
            --probability "$(awk -v p="$loss" 'BEGIN {print p / 100}')" -j DROP
    done
fi

# The program keeps Config.ini, Upgrade.log and the record beside itself or in its current
# folder: a copy in the work folder keeps the build's folder clean.
linux=${ORVANE_ROAD_BUILD:-}
if [ "$linux" = linux ]; then
    cp "$bin/orvane" "$bin/orvane-program" "$work/"
    program=("$work/orvane")
else
    cp "$winbin/orvane.exe" "$work/"
    program=(bash "$root/scripts/wine-run.sh" "$work/orvane.exe")
fi
fw="$work/固件 fw"  # the command line and every file call in UTF-8
printf '[CNFINFO]\r\nAppLanguage=2\r\n' > "$work/Config.ini"
mkdir "$fw"
"$bin/orvane-mkfw" --version X_M100_V2.0.0.0 --image "$((kib - 16))K" --pad-to "${kib}K" \
    "$fw/M100.bin" >/dev/null

(cd "$work" && exec env ORVANE_WINE_NET=host ORVANE_UPDATE_HOST=127.0.0.1 XDG_RUNTIME_DIR="$work" \
    ip netns exec "$srv" "${program[@]}" --headless \
    --ip 10.252.0.1 --folder "$fw" --no-ip-check --no-force --no-show-all \
    --http 127.0.0.1:8069 \
    > "$work/orvane.out" 2> "$work/orvane.err" < /dev/null) &
pid=$!
for _ in $(seq 600); do  # a first start of Wine takes seconds
    grep -q '^ready' "$work/orvane.out" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
grep -q '^ready' "$work/orvane.out" || fail "orvane did not start"

devsim=(--server 10.252.0.1 --source-from 10.78.0.1 --devices "$devices"
    --compare "$fw/M100.bin" ${ORVANE_ROAD_DEVSIM_ARGS:-})
# Through loss a device waits a second before it sends again, and tries more often.
[ "$loss" = 0 ] || devsim+=(--tftp-timeout 1000 --tftp-tries 10)
out=$(timeout 600 ip netns exec "$dev" "$bin/orvane-devsim" "${devsim[@]}" 2> "$work/devsim.err") ||
    fail "orvane-devsim failed: $out $(tail -3 "$work/devsim.err")"
sleep 2  # the last report is handled at once, or never
# The web view's metrics and device list tell the same as the table.
metrics=$(ip netns exec "$srv" curl -sf --max-time 10 http://127.0.0.1:8069/metrics) ||
    fail "no /metrics"
grep -q "^orvane_upgrades_total{result=\"success\"} $devices\$" <<< "$metrics" ||
    fail "/metrics: $(grep '^orvane_upgrades_total' <<< "$metrics")"
api=$(ip netns exec "$srv" curl -sf --max-time 10 http://127.0.0.1:8069/api/devices) ||
    fail "no /api/devices"
[ "$(grep -oE '"status" ?: ?"Upgrade complete"' <<< "$api" | wc -l)" = "$devices" ] ||
    fail "/api/devices: not every device complete"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" = 0 ] || fail "orvane ended with $status at SIGTERM"

summary=$(head -1 <<< "$out")
field() { tr ' ' '\n' <<< "$summary" | sed -n "s/^$1=//p"; }
[ "$(field downloaded)" = "$devices" ] || fail "downloaded $(field downloaded) of $devices: $summary"
[ "$(field failures)" = 0 ] || fail "devices failed: $summary"
complete=$(awk -F'\t' '$1 == "row" {st[$2] = $5 " " $6}
    END {for (id in st) n += st[id] == "Upgrade complete 100%"; print n + 0}' "$work/orvane.out")
[ "$complete" = "$devices" ] || fail "$complete of $devices rows complete"
successes=$(awk -F'\t' '$1 == "successes" {n = $2} END {print n + 0}' "$work/orvane.out")
[ "$successes" = "$devices" ] || fail "success count $successes, not $devices"
recorded=$(grep -c ',success,' "$work/upgrades.csv" || true)
[ "$recorded" = "$devices" ] || fail "the record holds $recorded successes, not $devices"
echo "${linux:-windows}_road devices=$devices loss=$loss road_s=$(field road-s)"
