#!/usr/bin/python3
"""Hostile load on loopback for abuse_bench.sh (run inside the bench's own namespace).

  web PORT SECONDS  100 slow connections (a header byte every 3 s, each from 127.0.0.N of its
                    own) and 4 streams of 8 KB header lines, while a browser's poll of
                    /api/devices runs once a second from 127.0.0.1 with a 1 s limit. Prints
                    "polls ANSWERED TOTAL MEDIAN_MS".
  tftp RATE SECONDS bad-opcode datagrams to 127.0.0.1:69, each from a new port. Prints "sent N".
"""
import socket
import sys
import threading
import time


def slow(port, index, end):
    s = socket.socket()
    s.bind(("127.0.0.%d" % (10 + index), 0))
    try:
        s.connect(("127.0.0.1", port))
        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nX-a: ")
        while time.time() < end:
            time.sleep(3)
            s.sendall(b"a")
    except OSError:
        pass
    finally:
        s.close()


def stream(port, index, end):
    line = b"X-" + b"h" * 8190 + b"\r\n"
    while time.time() < end:
        s = socket.socket()
        s.bind(("127.0.0.%d" % (200 + index), 0))
        try:
            s.connect(("127.0.0.1", port))
            s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
            while time.time() < end:
                s.sendall(line)
        except OSError:
            time.sleep(0.05)
        finally:
            s.close()


def poll(port):
    start = time.time()
    s = socket.socket()
    s.settimeout(1.0)
    try:
        s.connect(("127.0.0.1", port))
        s.sendall(("GET /api/devices HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                   "Connection: close\r\n\r\n" % port).encode())
        got = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += chunk
            if time.time() - start > 1.0:
                return None
        ok = got.startswith(b"HTTP/1.1 200")
        return (time.time() - start) * 1000 if ok and time.time() - start <= 1.0 else None
    except OSError:
        return None
    finally:
        s.close()


def web(port, seconds):
    end = time.time() + seconds
    threads = [threading.Thread(target=slow, args=(port, i, end), daemon=True) for i in range(100)]
    threads += [threading.Thread(target=stream, args=(port, i, end), daemon=True)
                for i in range(4)]
    for t in threads:
        t.start()
    time.sleep(2)
    times, total = [], 0
    while time.time() < end - 1:
        total += 1
        t = poll(port)
        if t is not None:
            times.append(t)
        time.sleep(max(0.0, 1.0 - (t or 1000) / 1000))
    times.sort()
    median = times[len(times) // 2] if times else -1
    print("polls %d %d %.1f" % (len(times), total, median))


def tftp(rate, seconds):
    end = time.time() + seconds
    sent = 0
    while time.time() < end:
        tick = time.time()
        for _ in range(rate // 10):
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.sendto(b"\x00\x09bad|octet\x00", ("127.0.0.1", 69))
            s.close()
            sent += 1
        time.sleep(max(0.0, 0.1 - (time.time() - tick)))
    print("sent %d" % sent)


if __name__ == "__main__":
    if sys.argv[1] == "web":
        web(int(sys.argv[2]), float(sys.argv[3]))
    else:
        tftp(int(sys.argv[2]), float(sys.argv[3]))
