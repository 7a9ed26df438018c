#!/usr/bin/python3
"""A stand-in update service for tests: HTTPS on 127.0.0.1, keep-alive, replies from files.
With CERT "-" it is a plain HTTP server instead (a download server), on ADDR.

Usage: update_service.py PORT CERT KEY DIR [ADDR]  (ADDR defaults to 127.0.0.1)

Every request head is appended to DIR/requests.log as received, followed by a line "----".
Requests for "/" get DIR/root_status (default 200; "silent": no answer at all). Other requests get status DIR/status
(default 200) and the bytes of DIR/reply; DIR/mode may say "hangup" (close without a reply),
"truncate" (announce more body than is sent, then close), "huge" (announce 3 GiB, send the
body, then close), "hold" (send half the body, then
wait until DIR/release exists or the client goes) or "reset" (send half the body, then
reset the connection). Prints "listening" once bound.
"""
import os
import select
import socket
import ssl
import struct
import sys
import threading


def hold(conn, folder):
    """True once DIR/release exists; False when the client closed the connection first."""
    while not os.path.exists(os.path.join(folder, "release")):
        readable, _, _ = select.select([conn], [], [], 0.05)
        if readable and not conn.recv(65536):
            return False
    return True


def read_file(folder, name, default):
    try:
        with open(os.path.join(folder, name), "rb") as f:
            return f.read()
    except OSError:
        return default


def serve(conn, folder):
    buf = b""
    try:
        while True:
            while b"\r\n\r\n" not in buf:
                chunk = conn.recv(65536)
                if not chunk or len(buf) > 1 << 20:
                    return
                buf += chunk
            head, buf = buf.split(b"\r\n\r\n", 1)
            with open(os.path.join(folder, "requests.log"), "ab") as log:
                log.write(head + b"\r\n----\n")
            target = head.split(b"\r\n", 1)[0].split(b" ")[1] if b" " in head else b""
            mode = read_file(folder, "mode", b"").strip()
            if target == b"/":
                status = read_file(folder, "root_status", b"200").strip()
                body = b"ok"
                if status == b"silent":  # the request read, never an answer
                    hold(conn, folder)
                    return
            else:
                if mode == b"hangup":
                    return
                status = read_file(folder, "status", b"200").strip()
                body = read_file(folder, "reply", b"")
            if target == b"/":
                mode = b""
            length = len(body) + (1000 if mode == b"truncate" else 0)
            if mode == b"huge":
                length = 3 << 30
            head = (b"HTTP/1.1 " + status + b" X\r\nContent-Type: application/json\r\n"
                    + b"Content-Length: " + str(length).encode() + b"\r\n\r\n")
            if mode in (b"hold", b"reset"):
                half = len(body) // 2
                conn.sendall(head + body[:half])
                if mode == b"reset":
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    return
                if not hold(conn, folder):
                    return
                conn.sendall(body[half:])
                continue
            conn.sendall(head + body)
            if mode in (b"truncate", b"huge"):
                return
    except (OSError, ssl.SSLError):
        pass
    finally:
        conn.close()


def main():
    port, cert, key, folder = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    address = sys.argv[5] if len(sys.argv) > 5 else "127.0.0.1"
    context = None
    if cert != "-":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(16)
    print("listening", flush=True)
    while True:
        raw, _ = listener.accept()
        if context is None:
            conn = raw
        else:
            try:
                conn = context.wrap_socket(raw, server_side=True)
            except (OSError, ssl.SSLError):
                raw.close()
                continue
        threading.Thread(target=serve, args=(conn, folder), daemon=True).start()


if __name__ == "__main__":
    main()
