#!/bin/bash
# Runs one Windows test program under Wine (scripts/wine-run.sh) beside stand-in update
# services, in a private network namespace with only loopback up: update_service.py serves
# HTTPS on 127.0.0.1:443 and 127.0.0.3:443 (a certificate for 127.0.0.1 from a private CA,
# make_test_certs.sh) and plain HTTP on 127.0.0.2:443, each from a folder of its own,
# ADDRESS-PORT under $ORVANE_TEST_SERVICES, where test::UpdateService finds it. A Windows
# program cannot start a Linux one, so the services are there before it starts.
#   with_update_services.sh PROGRAM.exe [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${ORVANE_SERVICES_INSIDE:-}" ]; then
    ORVANE_SERVICES_INSIDE=1 exec unshare --net --fork bash "$0" "$@"
fi
ip link set lo up
root=$(mktemp -d /tmp/orvane-services.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT
bash "$here/make_test_certs.sh" "$root"
for service in 127.0.0.1/tls 127.0.0.2/plain 127.0.0.3/tls; do
    address=${service%/*}
    folder=$root/$address-443
    mkdir "$folder"
    cp "$root/ca.pem" "$root/other-ca.pem" "$folder/"
    cert=- key=-
    if [ "${service#*/}" = tls ]; then cert=$root/server.pem key=$root/server.key; fi
    python3 "$here/update_service.py" 443 "$cert" "$key" "$folder" "$address" \
        >"$folder/out" 2>"$folder/service.err" &
    pids+=($!)
done
for folder in "$root"/*-443; do
    for _ in $(seq 150); do
        grep -q listening "$folder/out" && break
        sleep 0.1
    done
    grep -q listening "$folder/out" && touch "$folder/listening"
done
export ORVANE_TEST_SERVICES=Z:$root ORVANE_WINE_PRIVATE_NET=1 ORVANE_WINE_NET=host
bash "$here/../../scripts/wine-run.sh" "$@"
