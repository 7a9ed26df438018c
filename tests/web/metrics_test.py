"""/metrics after a small road passes Prometheus's own checker (promtool) and carries the
metric names dashboards and alerts are written against, with the road's figures.

Catches: exposition text Prometheus would refuse, a renamed or missing metric, totals that do
not follow the service (upgrades by result, TFTP transfers and bytes, requests).

usage: metrics_test.py BIN_DIR
"""
import re
import subprocess
import sys

from web_harness import Site, get


def value(text, series):
    m = re.search("^" + re.escape(series) + r" (\S+)$", text, re.M)
    assert m, "no series " + series
    return float(m.group(1))


def main():
    with Site(sys.argv[1]) as site:
        site.road()
        status, headers, body = get("/metrics")
        assert status == 200 and headers["Content-Type"].startswith("text/plain; version=0.0.4")
        check = subprocess.run(["promtool", "check", "metrics"], input=body,
                               capture_output=True, timeout=30)
        assert check.returncode == 0, check.stdout + check.stderr
        text = body.decode()
        assert value(text, 'orvane_upgrades_total{result="success"}') == 17
        assert value(text, 'orvane_upgrades_total{result="failure"}') == 2
        assert value(text, 'orvane_upgrades_total{result="incomplete"}') == 0
        assert value(text, "orvane_tftp_transfers_active") == 0
        assert value(text, 'orvane_tftp_transfers_total{result="success"}') == 19
        assert value(text, "orvane_tftp_bytes_sent_total") >= 19 * 64 * 1024
        assert value(text, "orvane_device_requests_total") >= 20
        assert value(text, "orvane_device_requests_dropped_total") == 0
        assert value(text, "orvane_device_rows") == 20
        assert value(text, "orvane_service_running") == 1
        assert re.search(r'^orvane_build_info\{version="[0-9.]+"\} 1$', text, re.M), text
    print("metrics test passed")


if __name__ == "__main__":
    main()
