#!/usr/bin/env bash
# Downloads through a lossy link from Orvane's TFTP service and from Debian's tftpd-hpa, in the
# same run, with the two clients that resend their last ACK on their own clock while a DATA is
# lost: busybox tftp (from 0.1 s on) and atftp (every second). Two network namespaces that this
# script creates and removes, joined by a veth pair; each namespace drops a random 5 % of the
# datagrams it receives (iptables, input hook). Orvane listens on 10.254.70.1, tftpd-hpa on
# 10.254.70.3, the clients run on 10.254.70.2. Prints the seconds of each download (FAIL when
# the client gave up or the file differs) and, per server and client, the downloads that
# arrived intact and their mean time.
# Usage (root): bash bench/tftp_loss_bench.sh [build/bin] [runs] [KiB]
set -euo pipefail
source "$(dirname "$0")/netns_pair.sh"

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
runs="${2:-3}"
kib="${3:-512}"
ns="orvloss$$"
srv="${ns}s"
cli="${ns}c"
work="$(mktemp -d /tmp/orvane-tftp-loss-XXXXXX)"
chmod 755 "$work"
mkdir "$work/root"
chmod 755 "$work/root"
head -c $((kib << 10)) /dev/urandom > "$work/root/f.bin"
chmod 644 "$work/root/f.bin"

orvane_pid=""
hpa_pid=""
cleanup() {
    for pid in $orvane_pid $hpa_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    netns_pair_delete "$srv" "$cli"
    rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$cli" "${ns}a" "${ns}b" 10.254.70.1/24 10.254.70.2/24
ip -n "$srv" addr add 10.254.70.3/24 dev "${ns}a"
for n in "$srv" "$cli"; do
    # On input: a drop on output would fail the sender's send instead of losing the datagram.
    ip netns exec "$n" iptables -A INPUT -p udp -m statistic --mode random --probability 0.05 \
        -j DROP
done

(cd "$work" && exec ip netns exec "$srv" "$bindir/orvane-tftp-serve" 10.254.70.1 "$work/root" \
    > "$work/orvane.out") &
orvane_pid=$!
ip netns exec "$srv" /usr/sbin/in.tftpd --listen --foreground --address 10.254.70.3:69 --secure \
    --user root "$work/root" &
hpa_pid=$!
for _ in $(seq 50); do
    grep -q ready "$work/orvane.out" 2>/dev/null && break
    sleep 0.1
done

# fetch CLIENT ADDR: prints the seconds of one download, or FAIL.
fetch() {
    local client=$1 addr=$2 out="$work/out" t0 t1 status=0
    rm -f "$out"
    t0=$(date +%s.%N)
    case "$client" in
        busybox) timeout 900 ip netns exec "$cli" busybox tftp -g -r f.bin -l "$out" "$addr" \
                     > /dev/null 2>&1 || status=$? ;;
        atftp) timeout 900 ip netns exec "$cli" atftp -g -r f.bin -l "$out" "$addr" \
                   > /dev/null 2>&1 || status=$? ;;
    esac
    t1=$(date +%s.%N)
    if [ "$status" -ne 0 ] || ! cmp -s "$out" "$work/root/f.bin"; then
        echo FAIL
    else
        echo "$t1 - $t0" | bc -l
    fi
}

declare -A sum=() ok=()
printf '%-8s %-8s %4s %10s\n' client server run seconds
for run in $(seq "$runs"); do
    for client in busybox atftp; do
        for server in orvane hpa; do
            addr=10.254.70.1
            [ "$server" = hpa ] && addr=10.254.70.3
            s=$(fetch "$client" "$addr")
            key="$client $server"
            if [ "$s" != FAIL ]; then
                sum[$key]=$(echo "${sum[$key]:-0} + $s" | bc -l)
                ok[$key]=$((${ok[$key]:-0} + 1))
                printf '%-8s %-8s %4d %10.2f\n' "$client" "$server" "$run" "$s"
            else
                printf '%-8s %-8s %4d %10s\n' "$client" "$server" "$run" FAIL
            fi
        done
    done
done
echo
printf '%-8s %-8s %8s %10s\n' client server intact mean_s
for client in busybox atftp; do
    for server in orvane hpa; do
        key="$client $server"
        n=${ok[$key]:-0}
        mean=-
        [ "$n" -gt 0 ] && mean=$(printf '%.2f' "$(echo "${sum[$key]} / $n" | bc -l)")
        printf '%-8s %-8s %5d/%-2d %10s\n' "$client" "$server" "$n" "$runs" "$mean"
    done
done
echo "(${kib} KiB, block size 512, 5 % of datagrams dropped on input at each end)"
