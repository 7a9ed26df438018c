# Sourced by the benchmarks that put a server and its clients in two network namespaces.

# netns_pair SRV CLI SRV_IF CLI_IF SRV_ADDR CLI_ADDR: creates namespaces SRV and CLI joined by a
# veth pair (SRV_IF in SRV with SRV_ADDR, CLI_IF in CLI with CLI_ADDR, both CIDR), every link up.
netns_pair() {
    local srv=$1 cli=$2 srv_if=$3 cli_if=$4 ns
    ip netns add "$srv"
    ip netns add "$cli"
    ip link add "$srv_if" netns "$srv" type veth peer name "$cli_if" netns "$cli"
    ip -n "$srv" addr add "$5" dev "$srv_if"
    ip -n "$cli" addr add "$6" dev "$cli_if"
    for ns in "$srv" "$cli"; do ip -n "$ns" link set lo up; done
    ip -n "$srv" link set "$srv_if" up
    ip -n "$cli" link set "$cli_if" up
}

# netns_pair_delete SRV CLI: removes both namespaces (and so the pair), whatever is left of them.
netns_pair_delete() {
    ip netns delete "$1" 2>/dev/null || true
    ip netns delete "$2" 2>/dev/null || true
}

# netns_device_addresses SRV CLI CLI_ADDR RANGE: every address of RANGE (CIDR) becomes local in
# CLI and is routed there from SRV (through CLI_ADDR, without its prefix), so the devices
# orvane-devsim plays in CLI fetch from addresses of their own (--source-from): Orvane holds
# only a few transfers per client address at once.
netns_device_addresses() {
    ip -n "$2" route add local "$4" dev lo
    ip -n "$1" route add "$4" via "$3"
}

# start_orvane_in SRV ADDR WORK [OPTION...]: runs the copy of Orvane in WORK (the folder that
# holds its Config.ini) headless in namespace SRV on ADDR, serving WORK/fw, without the presence
# test or forced upgrades, output in WORK/orvane.out and WORK/orvane.err; waits for its ready
# line and sets orvane_pid to the program's own pid. Exits the benchmark when it does not start.
start_orvane_in() {
    local srv=$1 addr=$2 work=$3
    shift 3
    (cd "$work" && exec env XDG_RUNTIME_DIR="$work" ORVANE_UPDATE_HOST=127.0.0.1 no_proxy='*' \
        ip netns exec "$srv" ./orvane --headless --ip "$addr" --folder "$work/fw" \
        --no-ip-check --no-force "$@" > "$work/orvane.out" 2> "$work/orvane.err") &
    orvane_pid=$!
    for _ in $(seq 100); do
        grep -q '^ready' "$work/orvane.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q '^ready' "$work/orvane.out" || { echo "orvane did not start:" >&2; cat "$work/orvane.err" >&2; exit 1; }
    # the subshell's exec leaves ip netns exec's exec, and orvane execs the program: the pid is its
    [ "$(cat "/proc/$orvane_pid/comm")" = orvane-program ] || { echo "lost orvane's pid" >&2; exit 1; }
}

# stop_orvane: ends the Orvane start_orvane_in started, if it still runs, and waits for it.
orvane_pid=""
stop_orvane() {
    if [ -n "$orvane_pid" ]; then
        kill "$orvane_pid" 2>/dev/null || true
        wait "$orvane_pid" 2>/dev/null || true
        orvane_pid=""
    fi
}

# status_kib FIELD: a line of Orvane's /proc status (VmRSS, VmHWM, Threads), its number.
status_kib() {
    awk -v f="$1:" '$1 == f {print $2}' "/proc/$orvane_pid/status"
}

# fetch_atftpd: sets atftpd to the path of atftpd, unpacked once from its Debian package into
# the bench cache (ORVANE_BENCH_CACHE); not executable when it could not be fetched, and the
# caller then skips its rows.
fetch_atftpd() {
    local cache="${ORVANE_BENCH_CACHE:-/var/tmp/orvane-bench}/atftpd"
    atftpd="$cache/root/usr/sbin/atftpd"
    if [ ! -x "$atftpd" ]; then
        mkdir -p "$cache"
        (cd "$cache" && apt-get download atftpd > /dev/null 2>&1 &&
            dpkg-deb -x atftpd_*.deb root) || echo "atftpd could not be fetched: its rows are skipped" >&2
    fi
}
