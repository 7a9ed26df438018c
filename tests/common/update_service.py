#!/usr/bin/python3
"""A stand-in update service for tests: HTTPS on 127.0.0.1, keep-alive, replies from files.

Usage: update_service.py PORT CERT KEY DIR

Every request head is appended to DIR/requests.log as received, followed by a line "----".
Requests for "/" get DIR/root_status (default 200). Other requests get status DIR/status
(default 200) and the bytes of DIR/reply; DIR/mode may say "hangup" (close without a reply)
or "truncate" (announce more body than is sent, then close). Prints "listening" once bound.
"""
import os
import socket
import ssl
import sys
import threading


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
            else:
                if mode == b"hangup":
                    return
                status = read_file(folder, "status", b"200").strip()
                body = read_file(folder, "reply", b"")
            length = len(body) + (1000 if mode == b"truncate" and target != b"/" else 0)
            conn.sendall(b"HTTP/1.1 " + status + b" X\r\nContent-Type: application/json\r\n"
                         + b"Content-Length: " + str(length).encode() + b"\r\n\r\n" + body)
            if mode == b"truncate" and target != b"/":
                return
    except (OSError, ssl.SSLError):
        pass
    finally:
        conn.close()


def main():
    port, cert, key, folder = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(16)
    print("listening", flush=True)
    while True:
        raw, _ = listener.accept()
        try:
            conn = context.wrap_socket(raw, server_side=True)
        except (OSError, ssl.SSLError):
            raw.close()
            continue
        threading.Thread(target=serve, args=(conn, folder), daemon=True).start()


if __name__ == "__main__":
    main()
