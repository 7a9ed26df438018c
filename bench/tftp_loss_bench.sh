#!/usr/bin/env bash
# Downloads through a lossy link from Orvane's TFTP service, Debian's tftpd-hpa and Debian's
# atftpd, in the same run, with the two clients that resend their last ACK on their own clock
# while a DATA is lost: busybox tftp (from 0.1 s on) and atftp (every second). Two network
# namespaces that this script creates and removes, joined by a veth pair; each namespace drops a
# random 5 % of the datagrams it receives (iptables, input hook). Orvane listens on
# 10.254.70.1:69, tftpd-hpa on 10.254.70.3:69 and atftpd on 10.254.70.3:6969; the clients run on
# 10.254.70.2 and ask blksize 1468 and no time-out. Prints the seconds of each download (FAIL
# when the client gave up or the file differs) and, per client and server, the downloads that
# arrived intact and their median time.
# Then, on the clean link, a slow device (bench/tftp_slow_client: each block acknowledged after
# a random 0-200 ms, never resent by the client) fetches 256 KiB from each server: the DATA
# packets it received per block, that is the server's copies.
# atftpd conflicts with the installed tftpd-hpa, so its package is downloaded (apt-get
# download) and unpacked into a private folder, kept in $ORVANE_BENCH_CACHE (default
# /var/tmp/orvane-bench); without it its rows show "-".
# Usage (root): bash bench/tftp_loss_bench.sh [build/bin] [runs] [KiB]
set -euo pipefail
source "$(dirname "$0")/netns_pair.sh"

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
runs="${2:-5}"
kib="${3:-512}"
blksize=1468
servers="orvane hpa atftpd"
ns="orvloss$$"
srv="${ns}s"
cli="${ns}c"
work="$(mktemp -d /tmp/orvane-tftp-loss-XXXXXX)"
chmod 755 "$work"
mkdir "$work/root"
chmod 755 "$work/root"
head -c $((kib << 10)) /dev/urandom > "$work/root/f.bin"
head -c $((256 << 10)) /dev/urandom > "$work/root/slow.bin"
chmod 644 "$work/root/"*.bin

fetch_atftpd  # beside the installed tftpd-hpa

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

netns_pair "$srv" "$cli" "${ns}a" "${ns}b" 10.254.70.1/24 10.254.70.2/24
ip -n "$srv" addr add 10.254.70.3/24 dev "${ns}a"

(cd "$work" && exec ip netns exec "$srv" "$bindir/orvane-tftp-serve" 10.254.70.1 "$work/root" \
    > "$work/orvane.out") &
pids="$pids $!"
ip netns exec "$srv" /usr/sbin/in.tftpd --listen --foreground --address 10.254.70.3:69 --secure \
    --user root "$work/root" &
pids="$pids $!"
if [ -x "$atftpd" ]; then
    ip netns exec "$srv" "$atftpd" --daemon --no-fork --user root --group root --port 6969 \
        --bind-address 10.254.70.3 --logfile /dev/null "$work/root" &
    pids="$pids $!"
else
    servers="orvane hpa"
fi
for _ in $(seq 50); do
    grep -q ready "$work/orvane.out" 2>/dev/null && break
    sleep 0.1
done

endpoint() {
    case "$1" in
        orvane) echo "10.254.70.1 69" ;;
        hpa) echo "10.254.70.3 69" ;;
        atftpd) echo "10.254.70.3 6969" ;;
    esac
}

# fetch CLIENT SERVER: prints the seconds of one download, or FAIL.
fetch() {
    local client=$1 out="$work/out" t0 t1 status=0 addr port
    read -r addr port <<< "$(endpoint "$2")"
    rm -f "$out"
    t0=$(date +%s.%N)
    case "$client" in
        busybox) timeout 900 ip netns exec "$cli" busybox tftp -g -b "$blksize" -r f.bin \
                     -l "$out" "$addr" "$port" > /dev/null 2>&1 || status=$? ;;
        atftp) timeout 900 ip netns exec "$cli" atftp --option "blksize $blksize" -g -r f.bin \
                   -l "$out" "$addr" "$port" > /dev/null 2>&1 || status=$? ;;
    esac
    t1=$(date +%s.%N)
    if [ "$status" -ne 0 ] || ! cmp -s "$out" "$work/root/f.bin"; then
        echo FAIL
    else
        echo "$t1 - $t0" | bc -l
    fi
}

# The slow device first, on the clean link.
printf '%-8s %-8s %s\n' client server result
for server in $servers; do
    read -r addr port <<< "$(endpoint "$server")"
    line=$(ip netns exec "$cli" "$bindir/tftp_slow_client" "$addr" "$port" slow.bin 7 2>&1) ||
        line="FAIL $line"
    printf '%-8s %-8s %s\n' slow "$server" "$line"
done
echo

for n in "$srv" "$cli"; do
    # On input: a drop on output would fail the sender's send instead of losing the datagram.
    ip netns exec "$n" iptables -A INPUT -p udp -m statistic --mode random --probability 0.05 \
        -j DROP
done

declare -A times=() ok=()
printf '%-8s %-8s %4s %10s\n' client server run seconds
for run in $(seq "$runs"); do
    for client in busybox atftp; do
        for server in $servers; do
            s=$(fetch "$client" "$server")
            key="$client $server"
            if [ "$s" != FAIL ]; then
                times[$key]="${times[$key]:-} $s"
                ok[$key]=$((${ok[$key]:-0} + 1))
                printf '%-8s %-8s %4d %10.2f\n' "$client" "$server" "$run" "$s"
            else
                printf '%-8s %-8s %4d %10s\n' "$client" "$server" "$run" FAIL
            fi
        done
    done
done
echo
printf '%-8s %-8s %8s %10s\n' client server intact median_s
for client in busybox atftp; do
    for server in $servers; do
        key="$client $server"
        n=${ok[$key]:-0}
        med=-
        [ "$n" -gt 0 ] && med=$(tr ' ' '\n' <<< "${times[$key]}" | sed '/^$/d' | sort -g |
            awk '{v[NR] = $1} END {printf "%.2f", v[int((NR + 1) / 2)]}')
        printf '%-8s %-8s %5d/%-2d %10s\n' "$client" "$server" "$n" "$runs" "$med"
    done
done
echo "(${kib} KiB, blksize ${blksize}, 5 % of datagrams dropped on input at each end; medians of the intact runs)"
