#!/usr/bin/env bash
# Two sites, one Prometheus: two Orvane services in namespaces of their own with simulated
# devices, scraped by a real Prometheus (with the example alert rules) in a third. Passes when
# its API gives 12 upgrades (5 at a, 7 at b), 1 failure (b) and both sites up. Cleans up.
# Usage (root): bash tests/web/many_sites.sh [build/bin]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bindir="$(cd "${1:-$here/../../build/bin}" && pwd)"
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 2; }
command -v prometheus > /dev/null || { echo "needs Debian's prometheus package" >&2; exit 2; }

mon="orvane-mon-$$"
work="$(mktemp -d /tmp/orvane-many-sites-XXXXXX)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    for ns in "$mon" "orvane-site-a-$$" "orvane-site-b-$$"; do ip netns delete "$ns" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$mon"
ip -n "$mon" link set lo up
# site NAME NET: Orvane at 10.253.NET.2, veth-joined to Prometheus's 10.253.NET.1.
site() {
    local name=$1 net=$2 ns="orvane-site-$1-$$"
    ip netns add "$ns"
    ip link add "om$net-$$" netns "$mon" type veth peer name "os$net-$$" netns "$ns"
    ip -n "$mon" addr add "10.253.$net.1/24" dev "om$net-$$"
    ip -n "$ns" addr add "10.253.$net.2/24" dev "os$net-$$"
    ip -n "$mon" link set "om$net-$$" up
    ip -n "$ns" link set lo up
    ip -n "$ns" link set "os$net-$$" up
    # Orvane serves from a running interface only: wait for the kernel to mark it so.
    for _ in $(seq 50); do
        ip -n "$ns" link show dev "os$net-$$" | grep -q 'state UP' && break
        sleep 0.1
    done
    mkdir -p "$work/$name/fw"
    cp "$bindir/orvane" "$bindir/orvane-program" "$work/$name/"
    "$bindir/orvane-mkfw" --version X_M100_V1.2.3.4 --image 64K "$work/$name/fw/M100.bin" > /dev/null
    (cd "$work/$name" && exec env XDG_RUNTIME_DIR="$work/$name" ORVANE_UPDATE_HOST=127.0.0.1 \
        ip netns exec "$ns" ./orvane --headless --ip "10.253.$net.2" --folder "$work/$name/fw" \
        --http "10.253.$net.2:8069" > "$work/$name/out.txt" 2> "$work/$name/err.txt") &
    pids+=($!)
    for _ in $(seq 100); do
        grep -q '^ready' "$work/$name/out.txt" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "orvane at site $name did not start: $(cat "$work/$name/err.txt")" >&2
    exit 1
}
# devices NAME NET ARGS...: simulated devices at a site
devices() {
    local ns="orvane-site-$1-$$" net=$2
    shift 2
    ip netns exec "$ns" "$bindir/orvane-devsim" --server "10.253.$net.2" "$@" > /dev/null
}

site a 1
site b 2
devices a 1 --devices 5 --mac 02:00:00:0a:00:00
devices b 2 --devices 7 --mac 02:00:00:0b:00:00
devices b 2 --devices 1 --mac 02:00:00:0b:01:00 --fail-share 1 --fail-stage kernel --fail-state 6

cp "$here/../../packaging/monitoring/orvane-alerts.yml" "$work/"
cat > "$work/prometheus.yml" <<CONF
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files: [orvane-alerts.yml]
scrape_configs:
  - job_name: orvane
    static_configs:
      - targets: ["10.253.1.2:8069"]
        labels: {site: "a"}
      - targets: ["10.253.2.2:8069"]
        labels: {site: "b"}
CONF
ip netns exec "$mon" prometheus --config.file="$work/prometheus.yml" \
    --storage.tsdb.path="$work/tsdb" --web.listen-address=127.0.0.1:9090 \
    > "$work/prometheus.log" 2>&1 &
pids+=($!)

query() {
    ip netns exec "$mon" curl -sf --max-time 5 -G "http://127.0.0.1:9090/api/v1/query" \
        --data-urlencode "query=$1" |
        /usr/bin/python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else "none")'
}
for _ in $(seq 60); do
    total=$(query 'sum(orvane_upgrades_total{result="success"})' 2>/dev/null || echo none)
    up=$(query 'sum(up{job="orvane"})' 2>/dev/null || echo none)
    [ "$total" = 12 ] && [ "$up" = 2 ] && break
    sleep 1
done
failures=$(query 'sum(orvane_upgrades_total{result="failure"})' || echo none)
echo "upgrades across sites: $total; sites up: $up; failures (site b): $failures"
[ "$total" = 12 ] && [ "$up" = 2 ] && [ "$failures" = 1 ] || {
    echo "FAILED; Prometheus's log:" >&2; tail -20 "$work/prometheus.log" >&2; exit 1; }
echo "many sites: passed"
