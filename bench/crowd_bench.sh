#!/usr/bin/env bash
# A crowd: 1,000 devices through the whole road at once with an 8 MiB package, each a slow
# boot loader that acknowledges every DATA 2 ms late, beside 1,000 plain TFTP downloads of the
# same file by the same client (orvane-devsim --fetch, the same 2 ms), between two network
# namespaces that this script creates and removes (10.252.0.1 Orvane, 10.252.0.2 devices).
# Orvane is started afresh for each road, so every run has its own table and memory peak.
#
# Per run it prints the road and the plain downloads (seconds, devices upgraded or downloaded),
# Orvane's rows, rows at "Upgrade complete" with a version, its success count, its resident
# memory peak (VmHWM) and the CPU seconds of Orvane and of the simulator (the simulator must
# not be what limits the road: its CPU beside Orvane's says so).
# Goals: all 1,000 upgraded, rows = complete rows = successes = 1,000, road / plain <= 1.2
# (median of the runs), resident memory peak < 128 MiB.
# With ORVANE_BENCH_RESULTS set, appends one "crowd ..." line to that file. ORVANE_CROWD_WINDOW=N
# has every device ask windowsize N (road and plain downloads alike), for the CPU per GiB of a
# windowed crowd beside a lockstep one; its line is then "crowd_wN ...".
# Usage (root): bash bench/crowd_bench.sh [build/bin] [RUNS] [DEVICES] [MiB] [ACK_DELAY_MS]
set -euo pipefail
source "$(dirname "$0")/netns_pair.sh"

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
runs="${2:-1}"
devices="${3:-1000}"
mib="${4:-8}"
ack_ms="${5:-2}"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }

srv="orvane-crowd-srv-$$"
dev="orvane-crowd-dev-$$"
work="$(mktemp -d /tmp/orvane-crowd-bench-XXXXXX)"
cleanup() {
    stop_orvane
    netns_pair_delete "$srv" "$dev"
    rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$dev" "ocs$$" "ocd$$" 10.252.0.1/24 10.252.0.2/24
# Devices fetch from addresses of their own, as devices that took the addresses Orvane gave
# them do (the TFTP server takes only a few transfers from one address at a time), when the
# simulator can.
source_from=()
window=()
[ -z "${ORVANE_CROWD_WINDOW:-}" ] || window=(--windowsize "$ORVANE_CROWD_WINDOW")
if "$bindir/orvane-devsim" --help | grep -q -- --source-from; then
    ip -n "$dev" route add local 10.250.0.0/16 dev lo
    ip -n "$srv" route add 10.250.0.0/16 via 10.252.0.2
    source_from=(--source-from 10.250.0.1)
fi

cp "$bindir/orvane" "$bindir/orvane-program" "$work/"
mkdir -m 755 "$work/fw"
"$bindir/orvane-mkfw" --version X_M100_V2.0.0.0 --image "$((mib * 1024 - 64))K" \
    --pad-to "${mib}M" "$work/fw/M100.bin" >/dev/null
chmod 644 "$work/fw/M100.bin"

start_orvane() {
    start_orvane_in "$srv" 10.252.0.1 "$work" --no-show-all
}
# Orvane's CPU seconds so far (user + system)
orvane_cpu() {
    awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$orvane_pid/stat"
}
field() {
    tr ' ' '\n' <<< "$2" | sed -n "s/^$1=//p"
}
median() {
    sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}
# devsim ARGS...: runs the simulator among the devices; its summary line, then its CPU seconds
devsim() {
    local out
    out=$(/usr/bin/time -f 'cpu %U %S' -o "$work/devsim.time" ip netns exec "$dev" \
        "$bindir/orvane-devsim" --server 10.252.0.1 "${source_from[@]}" --devices "$devices" --ack-delay-ms "$ack_ms" \
        --compare "$work/fw/M100.bin" "${window[@]}" "$@" 2> "$work/devsim.err") ||
        echo "devsim: $(grep -c '' "$work/devsim.err") lines on stderr, first: $(head -1 "$work/devsim.err")" >&2
    echo "$(head -1 <<< "$out") devsim-cpu-s=$(awk '/^cpu/ {print $2 + $3}' "$work/devsim.time")"
}
# table: "rows complete successes" of Orvane's TSV table (last line of each row ID wins)
table() {
    awk -F'\t' '
        $1 == "row" {status[$2] = $5; upgraded[$2] = $8}
        $1 == "successes" {s = $2}
        END {
            for (id in status) { n++; if (status[id] == "Upgrade complete" && upgraded[id] != "") c++ }
            printf "%d %d %d\n", n, c, s
        }' "$work/orvane.out"
}

echo "== $devices devices, ${mib} MiB package, ACK after $ack_ms ms, blksize 1468, windowsize ${ORVANE_CROWD_WINDOW:-1}"
: > "$work/runs"
for i in $(seq "$runs"); do
    start_orvane
    cpu0=$(orvane_cpu)
    road=$(devsim --mac "02:00:00:0$i:00:00")
    sleep 2  # the last reports reach the table
    cpu1=$(orvane_cpu)
    read -r rows complete successes <<< "$(table)"
    peak=$(status_kib VmHWM)
    plain=$(devsim --fetch M100.bin)
    cpu2=$(orvane_cpu)
    stop_orvane
    printf 'run %d road %8.2f s upgraded %s/%s  rows %s complete %s successes %s  peak %d KiB  cpu orvane %.1f s devsim %.1f s\n' \
        "$i" "$(field road-s "$road")" "$(field downloaded "$road")" "$devices" "$rows" "$complete" "$successes" \
        "$peak" "$(echo "$cpu1 - $cpu0" | bc -l)" "$(field devsim-cpu-s "$road")"
    printf 'run %d plain %7.2f s downloaded %s/%s  cpu orvane %.1f s devsim %.1f s\n' \
        "$i" "$(field road-s "$plain")" "$(field downloaded "$plain")" "$devices" \
        "$(echo "$cpu2 - $cpu1" | bc -l)" "$(field devsim-cpu-s "$plain")"
    echo "$(field road-s "$road") $(field road-s "$plain") $(field downloaded "$road") $(field failures "$road") $rows $complete $successes $peak $(echo "$cpu1 - $cpu0" | bc -l) $(field devsim-cpu-s "$road") $(echo "$cpu2 - $cpu1" | bc -l)" >> "$work/runs"
done
road=$(awk '{print $1}' "$work/runs" | median)
plain=$(awk '{print $2}' "$work/runs" | median)
ratio=$(awk '{print $1 / $2}' "$work/runs" | median)
# The worst run of each count: a goal is met only when every run met it.
read -r upgraded rows complete successes peak orv_cpu dev_cpu plain_cpu <<< "$(awk '
    NR == 1 {u = $3; r = $5; c = $6; s = $7}
    {if ($3 < u) u = $3; if ($5 != '"$devices"') r = $5; if ($6 < c) c = $6; if ($7 < s) s = $7;
     if ($8 > p) p = $8; oc += $9; dc += $10; pc += $11}
    END {printf "%d %d %d %d %d %.1f %.1f %.1f\n", u, r, c, s, p, oc / NR, dc / NR, pc / NR}' "$work/runs")"
printf '%-10s road %s s, plain %s s, ratio %.2f (median of %d; goal <= 1.2)\n' crowd "$road" "$plain" "$ratio" "$runs"
printf '%-10s worst run: upgraded %d, rows %d, complete %d, successes %d (goal %d each); peak RSS %.1f MiB (goal < 128)\n' \
    "" "$upgraded" "$rows" "$complete" "$successes" "$devices" "$(echo "$peak / 1024" | bc -l)"
printf '%-10s CPU per road (mean): Orvane %.1f s, orvane-devsim %.1f s; Orvane for the plain downloads %.1f s\n' "" "$orv_cpu" "$dev_cpu" "$plain_cpu"
if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then
    echo "crowd${ORVANE_CROWD_WINDOW:+_w$ORVANE_CROWD_WINDOW} $road $plain $ratio $upgraded $rows $complete $successes $peak $orv_cpu $dev_cpu $devices $plain_cpu" >> "$ORVANE_BENCH_RESULTS"
fi
