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
