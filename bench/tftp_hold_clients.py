#!/usr/bin/python3
"""Holds many TFTP downloads open at once, as a crowd of slow devices would.

Usage: tftp_hold_clients.py SERVER FILE COUNT FIRST_SOURCE SECONDS [HOLD_MS] [BLKSIZE]

Client N (from 0) fetches FILE from SERVER:69 on a socket bound to FIRST_SOURCE + N, asks
BLKSIZE (default 1468), and acknowledges each block HOLD_MS (default 200) after it came, so
every transfer stays under way. A request without an answer is sent again each second, five
times at most. After SECONDS every client ends its transfer with an ERROR. Prints one line:
"clients=COUNT active=A refused=R silent=S" (active: the server was sending to it at the end).
"""
import heapq
import ipaddress
import selectors
import socket
import struct
import sys
import time


def main():
    server, name, count, first, seconds = sys.argv[1:6]
    hold = float(sys.argv[6]) / 1000 if len(sys.argv) > 6 else 0.2
    blksize = sys.argv[7] if len(sys.argv) > 7 else "1468"
    count, seconds = int(count), float(seconds)
    first = int(ipaddress.IPv4Address(first))
    request = (struct.pack("!H", 1) + name.encode() + b"\0octet\0blksize\0" +
               blksize.encode() + b"\0")
    sel = selectors.DefaultSelector()
    socks = []
    for n in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((str(ipaddress.IPv4Address(first + n)), 0))
        s.setblocking(False)
        sel.register(s, selectors.EVENT_READ, n)
        socks.append(s)
    peer = [None] * count     # the server's transfer port, once it answered
    state = ["asking"] * count
    tries = [0] * count
    acks = []                 # (when, client, block): acknowledgements held back
    asks = []                 # (when, client): requests to send (again)
    start = time.monotonic()
    for n in range(count):
        heapq.heappush(asks, (start, n))
    end = start + seconds
    while time.monotonic() < end:
        now = time.monotonic()
        while asks and asks[0][0] <= now:
            _, n = heapq.heappop(asks)
            if state[n] == "asking" and tries[n] < 5:
                tries[n] += 1
                socks[n].sendto(request, (server, 69))
                heapq.heappush(asks, (now + 1.0, n))
            elif state[n] == "asking":
                state[n] = "silent"
        while acks and acks[0][0] <= now:
            _, n, block = heapq.heappop(acks)
            socks[n].sendto(struct.pack("!HH", 4, block), peer[n])
        wake = min([end] + [q[0][0] for q in (asks, acks) if q])
        for key, _ in sel.select(max(0.0, wake - time.monotonic())):
            n = key.data
            try:
                data, src = socks[n].recvfrom(70000)
            except BlockingIOError:
                continue
            if len(data) < 4:
                continue
            op, number = struct.unpack("!HH", data[:4])
            if op == 5:
                state[n] = "refused"
                continue
            peer[n] = src
            state[n] = "active"
            block = 0 if op == 6 else number
            heapq.heappush(acks, (time.monotonic() + hold, n, block))
    for n, s in enumerate(socks):
        if peer[n] is not None:
            s.sendto(struct.pack("!HH", 5, 0) + b"done\0", peer[n])
    print("clients=%d active=%d refused=%d silent=%d" %
          (count, state.count("active"), state.count("refused"),
           state.count("silent") + state.count("asking")))


if __name__ == "__main__":
    main()
