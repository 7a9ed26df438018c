#!/usr/bin/env bash
# Compares Orvane's TFTP service with Debian's tftpd-hpa, both downloaded from by the same
# client (curl) inside a private network namespace that this script creates:
#   Orvane on 127.0.0.1:69, tftpd-hpa (foreground, started and stopped here) on 127.0.0.2:69.
# Rows: one 64 MiB download at blksize 512, 1468, 8192 and 16384; 20 concurrent 16 MiB
# downloads at blksize 1468. Each row runs RUNS times (default 3), Orvane and tftpd-hpa in
# turn; it prints the median wall time and server CPU of each, and the medians of the runs'
#   speed = tftpd-hpa time / Orvane time       (>= 1: Orvane at least as fast)
#   cpu   = tftpd-hpa CPU / Orvane CPU         (>= 1: Orvane spends less CPU per byte)
# With ORVANE_BENCH_RESULTS set, appends "tftp_ROW orvane_s hpa_s speed cpu time_ratio" to
# that file (time_ratio: the median of the runs' Orvane time / tftpd-hpa time).
# Usage (root): bash bench/tftp_bench.sh [build/bin] [RUNS]
set -euo pipefail

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
runs="${2:-3}"
if [ -z "${ORVANE_BENCH_NS:-}" ]; then
    exec env ORVANE_BENCH_NS=1 unshare --net -- bash "$0" "$bindir" "$runs"
fi
ip link set lo up
# tftpd-hpa resolves its address with AI_ADDRCONFIG, which ignores loopback: give the
# namespace one non-loopback IPv4 address (a veth pair inside this namespace only).
ip link add orvbench0 type veth peer name orvbench1
ip addr add 10.255.0.1/24 dev orvbench0
ip link set orvbench0 up
ip link set orvbench1 up

work="$(mktemp -d /tmp/orvane-tftp-bench-XXXXXX)"
chmod 755 "$work"
mkdir "$work/root" "$work/out"
chmod 755 "$work/root"
head -c $((64 << 20)) /dev/urandom > "$work/root/f64.bin"
head -c $((16 << 20)) /dev/urandom > "$work/root/f16.bin"
chmod 644 "$work/root/"*.bin

orvane_pid=""
hpa_pid=""
cleanup() {
    for pid in $orvane_pid $hpa_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

(cd "$work" && exec "$bindir/orvane-tftp-serve" 127.0.0.1 "$work/root" > "$work/orvane.out") &
orvane_pid=$!
/usr/sbin/in.tftpd --listen --foreground --address 127.0.0.2:69 --secure --user root "$work/root" &
hpa_pid=$!
for _ in $(seq 50); do
    grep -q ready "$work/orvane.out" 2>/dev/null && break
    sleep 0.1
done

# CPU ticks used by a server and every process it forked (tftpd-hpa forks one per transfer
# and does not collect their times): each process's utime + stime, sampled every 20 ms while
# the row runs, its largest value kept. Started before the row, stopped by pid after it.
sample_cpu() {
    local root=$1 out=$2
    declare -A seen=()
    while :; do
        for f in /proc/[0-9]*/stat; do
            { read -r -a st < "$f"; } 2>/dev/null || continue
            # fields: pid (comm) state ppid ... utime(14) stime(15); comm has no spaces here
            if [ "${st[0]}" = "$root" ] || [ "${st[3]}" = "$root" ]; then
                seen[${st[0]}]=$((st[13] + st[14]))
            fi
        done
        for pid in "${!seen[@]}"; do echo "$pid ${seen[$pid]}"; done > "$out.tmp"
        mv "$out.tmp" "$out"
        sleep 0.02
    done
}

cpu_of() {
    awk '{s += $2} END {print s + 0}' "$1"
}

# run ADDR PID BLKSIZE FILE COUNT: prints "seconds cpu_ticks"
run() {
    local addr=$1 pid=$2 blk=$3 file=$4 count=$5
    local c0 t0 t1 c1 sampler pids=()
    sample_cpu "$pid" "$work/cpu0" & sampler=$!
    sleep 0.1
    c0=$(cpu_of "$work/cpu0")
    t0=$(date +%s.%N)
    for i in $(seq "$count"); do
        curl -s --tftp-blksize "$blk" -o "$work/out/$i" "tftp://$addr/$file" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p"; done
    t1=$(date +%s.%N)
    sleep 0.1
    kill "$sampler"; wait "$sampler" 2>/dev/null || true
    c1=$(cpu_of "$work/cpu0")
    for i in $(seq "$count"); do
        cmp -s "$work/out/$i" "$work/root/$file" || echo "CORRUPT $addr $file #$i" >&2
    done
    rm -f "$work/out/"*
    echo "$(echo "$t1 - $t0" | bc -l) $((c1 - c0))"
}

median() {
    sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

printf '%-28s %10s %10s %8s %8s %8s %8s\n' row orvane_s hpa_s speed orv_cpu hpa_cpu cpu
while read -r label blk file count; do
    : > "$work/runs"
    for _ in $(seq "$runs"); do
        read -r ot oc < <(run 127.0.0.1 "$orvane_pid" "$blk" "$file" "$count")
        read -r ht hc < <(run 127.0.0.2 "$hpa_pid" "$blk" "$file" "$count")
        echo "$ot $ht $oc $hc" >> "$work/runs"
    done
    col() { awk "{print \$$1}" "$work/runs" | median; }
    speed=$(awk '{print $2 / $1}' "$work/runs" | median)
    cpu=$(awk '{print ($4 + 0.5) / ($3 + 0.5)}' "$work/runs" | median)
    printf '%-28s %10.2f %10.2f %8.2f %8d %8d %8.2f\n' "$label" "$(col 1)" "$(col 2)" "$speed" \
        "$(col 3)" "$(col 4)" "$cpu"
    printf '%-28s %s\n' "" "runs (orvane_s hpa_s orv_cpu hpa_cpu): $(tr '\n' ';' < "$work/runs")"
    if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then
        echo "tftp_$label $(col 1) $(col 2) $speed $cpu $(awk '{print $1 / $2}' "$work/runs" | median)" \
            >> "$ORVANE_BENCH_RESULTS"
    fi
done <<'ROWS'
64MiB_blksize512 512 f64.bin 1
64MiB_blksize1468 1468 f64.bin 1
64MiB_blksize8192 8192 f64.bin 1
64MiB_blksize16384 16384 f64.bin 1
20x16MiB_blksize1468 1468 f16.bin 20
ROWS
echo "(medians of $runs runs each; CPU in clock ticks of $(getconf CLK_TCK)/s; ratios above 1 favour Orvane)"
