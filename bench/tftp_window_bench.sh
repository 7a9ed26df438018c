#!/usr/bin/env bash
# Windowed TFTP (RFC 7440) between two network namespaces this script creates and removes,
# joined by a veth pair; Orvane's TFTP server (orvane-tftp-serve) on 10.254.72.1, the clients on
# 10.254.72.2. Two parts, each run RUNS times, the cases alternating within each run:
#   1. orvane-devsim fetches MiB (default 16) at blksize 1468, acknowledging each window 2 ms
#      late (a device with a slow link or a busy CPU), asking windowsize 1, 4, 16 and 64: the
#      medians of the times, throughput over windowsize 1's, and the server's CPU (user +
#      system) per GiB served.
#   2. atftp's client asks windowsize 16 (blksize 1468) of Orvane and of Debian's atftpd (port
#      6969, unpacked from its package as bench/tftp_loss_bench.sh does), on the clean link and
#      with 5 % of the datagrams dropped on input at each end.
# Writes "tftp_window_W seconds ratio cpu_s_per_gib" and "tftp_window_atftp_LINK orvane_s
# atftpd_s ratio intact_orvane intact_atftpd" lines to $ORVANE_BENCH_RESULTS when set.
# A download taking more than ORVANE_WINDOW_LIMIT_S seconds (default 120) counts as failed;
# ORVANE_WINDOW_LINKS (default "clean loss5") chooses the links of part 2.
# Usage (root): bash bench/tftp_window_bench.sh [build/bin] [RUNS] [MiB] [parts: devsim,atftp]
set -euo pipefail
source "$(dirname "$0")/netns_pair.sh"

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
runs="${2:-5}"
mib="${3:-16}"
parts="${4:-devsim,atftp}"
links="${ORVANE_WINDOW_LINKS:-clean loss5}"
# A download that takes longer counts as failed (atftpd's windowed downloads through loss can
# run for many minutes before atftp gives up).
limit="${ORVANE_WINDOW_LIMIT_S:-120}"
windows="1 4 16 64"
ns="orvwin$$"
srv="${ns}s"
cli="${ns}c"
work="$(mktemp -d /tmp/orvane-tftp-window-XXXXXX)"
chmod 755 "$work"
mkdir "$work/root"
chmod 755 "$work/root"
head -c $((mib << 20)) /dev/urandom > "$work/root/f.bin"
chmod 644 "$work/root/f.bin"

fetch_atftpd

pids=""
cleanup() {
    for pid in $pids; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    netns_pair_delete "$srv" "$cli"
    rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$cli" "${ns}a" "${ns}b" 10.254.72.1/24 10.254.72.2/24
(cd "$work" && exec ip netns exec "$srv" "$bindir/orvane-tftp-serve" 10.254.72.1 "$work/root" \
    > "$work/orvane.out") &
orvane=$!
pids="$pids $orvane"
if [ -x "$atftpd" ]; then
    ip netns exec "$srv" "$atftpd" --daemon --no-fork --user root --group root --port 6969 \
        --bind-address 10.254.72.1 --logfile /dev/null "$work/root" &
    pids="$pids $!"
fi
for _ in $(seq 50); do
    grep -q ready "$work/orvane.out" 2>/dev/null && break
    sleep 0.1
done
serve_pid=$(pgrep -P "$orvane" || echo "$orvane")  # ip netns exec may stay as the parent

# cpu_ticks: the server's user + system clock ticks so far
cpu_ticks() {
    awk '{print $14 + $15}' "/proc/$serve_pid/stat"
}
median() {
    sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}
result() {
    echo "$*"
    if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then echo "$*" >> "$ORVANE_BENCH_RESULTS"; fi
}
hz=$(getconf CLK_TCK)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

if [[ "$parts" == *devsim* ]]; then
    declare -A secs=() cpus=()
    printf '%-4s %-10s %10s %10s\n' run windowsize seconds cpu_s
    for run in $(seq "$runs"); do
        for w in $windows; do
            c0=$(cpu_ticks)
            line=$(ip netns exec "$cli" "$bindir/orvane-devsim" --server 10.254.72.1 \
                --fetch f.bin --compare "$work/root/f.bin" --blksize 1468 --windowsize "$w" \
                --ack-delay-ms 2 2>&1 | grep '^devices=') || line=""
            c1=$(cpu_ticks)
            s=$(sed -n 's/.* failures=0 .* road-s=\([0-9.]*\).*/\1/p' <<< "$line")
            cpu=$(echo "($c1 - $c0) / $hz" | bc -l)
            if [ -z "$s" ]; then s=FAIL; else secs[$w]="${secs[$w]:-} $s"; cpus[$w]="${cpus[$w]:-} $cpu"; fi
            printf '%-4s %-10s %10s %10.2f\n' "$run" "$w" "$s" "$cpu"
        done
    done
    base=$(tr ' ' '\n' <<< "${secs[1]:-}" | sed '/^$/d' | median)
    for w in $windows; do
        med=$(tr ' ' '\n' <<< "${secs[$w]:-}" | sed '/^$/d' | median)
        cpu=$(tr ' ' '\n' <<< "${cpus[$w]:-}" | sed '/^$/d' | median)
        ratio=$(echo "$base / $med" | bc -l 2>/dev/null || echo "?")
        per_gib=$(echo "$cpu * 1024 / $mib" | bc -l 2>/dev/null || echo "?")
        result "tftp_window_$w $med $ratio $per_gib"
    done
fi

# fetch SERVER LINK: the seconds of one atftp download asking windowsize 16, or FAIL.
fetch_atftp() {
    local port=69 out="$work/out" t0 t1 status=0
    [ "$1" = atftpd ] && port=6969
    rm -f "$out"
    t0=$(date +%s.%N)
    timeout "$limit" ip netns exec "$cli" atftp --option "windowsize 16" --option "blksize 1468" \
        -g -r f.bin -l "$out" 10.254.72.1 "$port" > /dev/null 2>&1 || status=$?
    t1=$(date +%s.%N)
    if [ "$status" -ne 0 ] || ! cmp -s "$out" "$work/root/f.bin"; then echo FAIL; else
        echo "$t1 - $t0" | bc -l; fi
}

if [[ "$parts" == *atftp* ]] && [ -x "$atftpd" ]; then
    for link in $links; do
        if [ "$link" = loss5 ]; then
            for n in "$srv" "$cli"; do
                ip netns exec "$n" iptables -A INPUT -p udp -m statistic --mode random \
                    --probability 0.05 -j DROP
            done
        fi
        declare -A t=() ok=()
        for run in $(seq "$runs"); do
            for server in orvane atftpd; do
                s=$(fetch_atftp "$server")
                printf '%-6s %-4s %-7s %10s\n' "$link" "$run" "$server" "$s"
                if [ "$s" != FAIL ]; then t[$server]="${t[$server]:-} $s"; ok[$server]=$((${ok[$server]:-0} + 1)); fi
            done
        done
        o=$(tr ' ' '\n' <<< "${t[orvane]:-}" | sed '/^$/d' | median)
        a=$(tr ' ' '\n' <<< "${t[atftpd]:-}" | sed '/^$/d' | median)
        ratio=$(echo "$o / $a" | bc -l 2>/dev/null || echo "?")
        result "tftp_window_atftp_$link ${o:-?} ${a:-?} $ratio ${ok[orvane]:-0}/$runs ${ok[atftpd]:-0}/$runs"
        unset t ok
    done
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg); ${mib} MiB, blksize 1468, medians of $runs"
