#!/usr/bin/env bash
# 5 devices through the whole road while another host floods Orvane's device port with
# malformed reports (24-byte "Report_Uboot" datagrams without any value), between two
# network namespaces this script creates and removes (Orvane --headless in one at the default
# log level, orvane-devsim and the flooder in the other, 10.252.0.1 and 10.252.0.2).
# Prints the devices that upgraded as they saw it, the rows the server shows complete, its
# success count, the malformed reports sent and the size and line count of Upgrade.log.
# Usage (root): bash bench/report_flood_bench.sh [build/bin] [RATE_PER_S] [DEVICES]
set -euo pipefail
source "$(dirname "$0")/netns_pair.sh"

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
rate="${2:-12000}"
devices="${3:-5}"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }

srv="orvane-flood-srv-$$"
dev="orvane-flood-dev-$$"
work="$(mktemp -d /tmp/orvane-flood-bench-XXXXXX)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    netns_pair_delete "$srv" "$dev"
    [ -n "${ORVANE_BENCH_KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$dev" "ofs$$" "ofd$$" 10.252.0.1/24 10.252.0.2/24

cp "$bindir/orvane" "$bindir/orvane-program" "$work/"
printf '[CNFINFO]\r\nAppLanguage=2\r\n' > "$work/Config.ini"
mkdir -m 755 "$work/fw"
"$bindir/orvane-mkfw" --version X_M100_V2.0.0.0 --image 240K --pad-to 256K \
    "$work/fw/M100.bin" >/dev/null
chmod 644 "$work/fw/M100.bin"

(cd "$work" && exec env XDG_RUNTIME_DIR="$work" ORVANE_UPDATE_HOST=127.0.0.1 no_proxy='*' \
    ip netns exec "$srv" ./orvane --headless --ip 10.252.0.1 --folder "$work/fw" \
    --no-ip-check --no-force --no-show-all > "$work/orvane.out" 2> "$work/orvane.err") &
pids+=($!)
for _ in $(seq 100); do
    grep -q '^ready' "$work/orvane.out" 2>/dev/null && break
    sleep 0.1
done
grep -q '^ready' "$work/orvane.out" || { echo "orvane did not start" >&2; exit 1; }

# The flooder: RATE datagrams a second in batches of one hundredth, until killed; it writes
# how many it sent when it ends.
cat > "$work/flood.py" <<'PY'
import signal, socket, sys, time
rate = int(sys.argv[1])
sent = 0
def done(*_):
    open(sys.argv[2], "w").write(str(sent))
    sys.exit(0)
signal.signal(signal.SIGTERM, done)
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
msg = b"Msg:Report_Uboot\r\nXXXX\r\n"  # 24 bytes, no value the report needs
batch = max(1, rate // 100)
start = time.monotonic()
while True:
    for _ in range(batch):
        # The port devices send to, fixed in their firmware (kListenPort on our side).
        s.sendto(msg, ("10.252.0.1", 10011))
    sent += batch
    delay = start + sent / rate - time.monotonic()
    if delay > 0:
        time.sleep(delay)
PY
ip netns exec "$dev" python3 "$work/flood.py" "$rate" "$work/flood.count" &
flood_pid=$!
pids+=("$flood_pid")
sleep 2  # the flood is under way before the devices come
out=$(ip netns exec "$dev" "$bindir/orvane-devsim" --server 10.252.0.1 --devices "$devices" \
    --compare "$work/fw/M100.bin" 2> "$work/devsim.err") || true
sleep 2  # the last reports are handled at once, or never
kill "$flood_pid"
wait "$flood_pid" 2>/dev/null || true
s=$(head -1 <<< "$out")
field() { tr ' ' '\n' <<< "$2" | sed -n "s/^$1=//p"; }
rows_done=$(awk -F'\t' '$1 == "row" {st[$2] = $5} END {for (id in st) if (st[id] == "Upgrade complete") n++; print n + 0}' \
    "$work/orvane.out")
successes=$({ grep $'^successes\t' "$work/orvane.out" || echo "x 0"; } | tail -1 | awk '{print $2}')
log_bytes=$(stat -c %s "$work/Upgrade.log" 2>/dev/null || echo 0)
log_lines=$(wc -l < "$work/Upgrade.log" 2>/dev/null || echo 0)
echo "rate=$rate/s sent=$(cat "$work/flood.count") devices=$devices" \
    "upgraded=$(($(field devices "$s") - $(field failures "$s"))) rows_complete=$rows_done" \
    "successes=$successes road_s=$(field road-s "$s") log_bytes=$log_bytes log_lines=$log_lines"
