"""Clients of Orvane's web view for bench/web_bench.sh.

  web_load.py latency URL N      N requests one after another: "median MS p99 MS max MS"
  web_load.py poll URL CLIENTS   CLIENTS browsers polling URL every second (each sends the
                                 ETag it got, as a browser does) until SIGTERM; then prints
                                 "requests N errors N"
"""
import http.client
import signal
import sys
import threading
import time
import urllib.parse


def get(url, etag=None):
    u = urllib.parse.urlsplit(url)
    conn = http.client.HTTPConnection(u.hostname, u.port, timeout=10)
    try:
        # What a browser sends: the server must not spend its cores compressing for it.
        headers = {"Accept-Encoding": "gzip, deflate, br"}
        if etag:
            headers["If-None-Match"] = etag
        conn.request("GET", u.path, headers=headers)
        r = conn.getresponse()
        r.read()
        return r.status, r.getheader("ETag")
    finally:
        conn.close()


def latency(url, n):
    times = []
    for _ in range(n):
        t0 = time.perf_counter()
        status, _ = get(url)
        times.append((time.perf_counter() - t0) * 1000)
        assert status == 200, status
    times.sort()
    print("median %.3f p99 %.3f max %.3f" % (times[len(times) // 2],
                                             times[min(len(times) - 1, int(len(times) * 0.99))],
                                             times[-1]))


def poll(url, clients):
    stop = threading.Event()
    counts = {"requests": 0, "errors": 0}
    lock = threading.Lock()

    def browser(k):
        etag = None
        time.sleep(k / clients)  # spread over the second, as browsers opened at random
        while not stop.is_set():
            try:
                status, tag = get(url, etag)
                if status == 200:
                    etag = tag
                ok = status in (200, 304)
            except OSError:
                ok = False
            with lock:
                counts["requests"] += 1
                counts["errors"] += 0 if ok else 1
            stop.wait(1.0)

    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    threads = [threading.Thread(target=browser, args=(k,)) for k in range(clients)]
    for t in threads:
        t.start()
    while not stop.is_set():
        stop.wait(0.5)
    for t in threads:
        t.join()
    print("requests %d errors %d" % (counts["requests"], counts["errors"]))


if __name__ == "__main__":
    if sys.argv[1] == "latency":
        latency(sys.argv[2], int(sys.argv[3]))
    else:
        poll(sys.argv[2], int(sys.argv[3]))
