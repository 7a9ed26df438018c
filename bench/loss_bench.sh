#!/usr/bin/env bash
# 100 devices through the whole road while datagrams are lost, between two network
# namespaces that this script creates and removes (Orvane --headless in one, orvane-devsim in
# the other, 10.253.0.1 and 10.253.0.2 on a veth pair). Each namespace drops a share of the
# UDP datagrams arriving on its input hook (iptables statistic, random).
#
# Runs:
#   tftp_only   the TFTP datagrams only; the device ports 10010/10011 are spared
#   all_udp     every datagram, the requests, replies and reports too
# Each prints the time of the road, the devices that downloaded and ended as intended (as
# they saw it), the rows the server shows complete and its success count, and the resends:
# the devices' (TFTP packets resent after a silence, requests asked again) and the server's
# (DATA or OACK resent after a time-out, counted in its log). The devices ask no TFTP time-out
# (ASK seconds when given: the server then keeps the fixed waits that time-out asks for, 5 for
# the default ones), resend after 1 s of silence and send each packet up to TRIES times
# (default 7).
# With ORVANE_BENCH_RESULTS set, appends one "loss_RUN VALUES..." line per run to that file (the
# columns printed), and with ORVANE_BENCH_RAW the simulator's output and the server's counts.
# Usage (root): bash bench/loss_bench.sh [build/bin] [DEVICES] [PACKAGE_KIB] [LOSS_PERCENT] [TRIES]
#                                       [ASK]
set -euo pipefail
source "$(dirname "$0")/netns_pair.sh"

bindir="$(cd "${1:-$(dirname "$0")/../build/bin}" && pwd)"
devices="${2:-100}"
kib="${3:-256}"
loss="${4:-10}"
tries="${5:-7}"
ask="${6:-0}"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }

srv="orvane-loss-srv-$$"
dev="orvane-loss-dev-$$"
work="$(mktemp -d /tmp/orvane-loss-bench-XXXXXX)"
cleanup() {
    stop_orvane
    netns_pair_delete "$srv" "$dev"
    [ -n "${ORVANE_BENCH_KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

netns_pair "$srv" "$dev" "ols$$" "old$$" 10.253.0.1/24 10.253.0.2/24
netns_device_addresses "$srv" "$dev" 10.253.0.2 10.78.0.0/16

cp "$bindir/orvane" "$bindir/orvane-program" "$work/"
printf '[CNFINFO]\r\nAppLanguage=2\r\nLogSwitch=1\r\n' > "$work/Config.ini"  # resends logged
mkdir -m 755 "$work/fw"
"$bindir/orvane-mkfw" --version X_M100_V2.0.0.0 --image "$((kib - 16))K" --pad-to "${kib}K" \
    "$work/fw/M100.bin" >/dev/null
chmod 644 "$work/fw/M100.bin"

# drop SPARE: a random share of the UDP datagrams arriving in each namespace, all but those
# from or to the ports SPARE names (empty: none spared).
drop() {
    local ns rule
    for ns in "$srv" "$dev"; do
        ip netns exec "$ns" iptables -F INPUT
        rule=(-A INPUT -p udp)
        [ -z "$1" ] || rule+=(-m multiport ! --ports "$1")
        rule+=(-m statistic --mode random --probability "$(echo "$loss / 100" | bc -l)" -j DROP)
        ip netns exec "$ns" iptables "${rule[@]}"
    done
}
dropped() {
    local n=0 ns c
    for ns in "$srv" "$dev"; do
        c=$(ip netns exec "$ns" iptables -L INPUT -v -x -n | awk '$3 == "DROP" {s += $1} END {print s + 0}')
        n=$((n + c))
    done
    echo "$n"
}

# udp_rcvbuf_errors NS: datagrams the namespace's kernel dropped for a full receive buffer
udp_rcvbuf_errors() {
    ip netns exec "$1" awk '$1 == "Udp:" && $2 ~ /^[0-9]/ {print $6}' /proc/net/snmp
}

start_orvane() {
    rm -f "$work/Upgrade.log"
    (cd "$work" && exec env XDG_RUNTIME_DIR="$work" ORVANE_UPDATE_HOST=127.0.0.1 no_proxy='*' \
        ip netns exec "$srv" ./orvane --headless --ip 10.253.0.1 --folder "$work/fw" \
        --no-ip-check --no-force --no-show-all > "$work/orvane.out" 2> "$work/orvane.err") &
    orvane_pid=$!
    for _ in $(seq 100); do
        grep -q '^ready' "$work/orvane.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q '^ready' "$work/orvane.out" || { echo "orvane did not start" >&2; exit 1; }
}

field() {
    tr ' ' '\n' <<< "$2" | sed -n "s/^$1=//p"
}

printf '%-10s %7s %9s %8s %9s %9s %10s %11s %10s %10s %8s %10s\n' run road_s downloaded intended \
    rows_done successes dev_tftp_rs dev_requests dev_dupack srv_resent dropped srv_rcvbuf
for run in ${ORVANE_LOSS_RUNS:-tftp_only all_udp}; do
    start_orvane
    # The device ports, fixed in the devices' firmware (kReplyPort, kListenPort on our side).
    if [ "$run" = tftp_only ]; then drop 10010,10011; else drop ""; fi
    rcvbuf0=$(udp_rcvbuf_errors "$srv")
    out=$(ip netns exec "$dev" "$bindir/orvane-devsim" --server 10.253.0.1 --source-from 10.78.0.1 --devices "$devices" \
        --compare "$work/fw/M100.bin" --ask-timeout "$ask" --tftp-timeout 1000 \
        --tftp-tries "$tries" 2> "$work/devsim.err") || true
    drops=$(dropped)
    rcvbuf=$(($(udp_rcvbuf_errors "$srv") - rcvbuf0))
    # The reports have all been sent: the last of them is handled at once, or never.
    sleep 2
    stop_orvane
    s=$(head -1 <<< "$out")
    r=$(sed -n 2p <<< "$out")
    rows_done=$(awk -F'\t' '$1 == "row" {st[$2] = $5; pr[$2] = $6}
        END {for (id in st) if (st[id] == "Upgrade complete" && pr[id] == "100%") n++; print n + 0}' \
        "$work/orvane.out")
    rows=$(awk -F'\t' '$1 == "row" {seen[$2] = 1} END {print length(seen)}' "$work/orvane.out")
    successes=$({ grep $'^successes\t' "$work/orvane.out" || echo "x 0"; } | tail -1 | awk '{print $2}')
    srv_resent=$(grep -c 'timeout while waiting for ack' "$work/Upgrade.log" || true)
    intended=$(($(field devices "$s") - $(field failures "$s")))
    line=$(printf '%-10s %7.1f %9s %8s %9s %9s %10s %11s %10s %10s %8s %10s' "$run" \
        "$(field road-s "$s")" "$(field downloaded "$s")/$devices" "$intended" "$rows_done/$rows" \
        "$successes" "$(field tftp "$r")" "$(field requests "$r")" "$(field tftp-dup-acks "$r")" \
        "$srv_resent" "$drops" "$rcvbuf")
    echo "$line"
    # What the operator sees of the rest: the rows not complete, counted by their status.
    awk -F'\t' '$1 == "row" {st[$2] = $5 " " $6}
        END {for (id in st) if (st[id] != "Upgrade complete 100%") n[st[id]]++
             for (s in n) printf "    %3d rows at \"%s\"\n", n[s], s}' "$work/orvane.out"
    if [ -n "${ORVANE_BENCH_RESULTS:-}" ]; then echo "loss_$line" | tr -s ' ' >> "$ORVANE_BENCH_RESULTS"; fi
    if [ -n "${ORVANE_BENCH_RAW:-}" ]; then
        {
            echo "run=$run devices=$devices package_kib=$kib loss_percent=$loss tries=$tries ask_timeout=$ask"
            echo "$out"
            echo "server rows=$rows rows_done=$rows_done successes=$successes resent=$srv_resent dropped=$drops"
            head -20 "$work/devsim.err"
        } >> "$ORVANE_BENCH_RAW"
    fi
done
echo "(road_s: devsim's road time; intended: devices that ended as they meant to, as they saw"
echo " it; rows_done: rows at \"Upgrade complete\" 100% of the rows shown; srv_resent: DATA/OACK"
echo " resent after a server time-out; dropped: datagrams the two input hooks dropped;"
echo " srv_rcvbuf: datagrams the server's kernel dropped for a full socket receive buffer)"
