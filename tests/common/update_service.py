#!/usr/bin/python3
"""A stand-in update service for tests. Usage: update_service.py PORT CERT KEY DIR ADDR.

HTTPS (plain HTTP with CERT "-"), keep-alive; prints "listening" once bound. Appends each request
head and "\r\n----\n" to DIR/requests.log. "/" gets DIR/root_status (default 200; "silent": no
answer). Others get DIR/reply: a line "STATUS MODE", then the body. MODE hangup: no reply;
truncate: 1000 bytes fewer than announced; huge: 3 GiB announced; hold: half the body, the rest
once DIR/release exists; reset: half the body, then a reset.
"""
import os, select, socket, ssl, struct, sys, threading


def hold(conn, folder):
    """True once DIR/release exists; False when the client closed the connection first."""
    while not os.path.exists(os.path.join(folder, "release")):
        if select.select([conn], [], [], 0.05)[0] and not conn.recv(65536):
            return False
    return True


def read_file(folder, name, default):
    path = os.path.join(folder, name)
    return open(path, "rb").read() if os.path.exists(path) else default


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
            if head.split(b" ")[1:2] == [b"/"]:
                status, mode, body = read_file(folder, "root_status", b"200").strip(), b"", b"ok"
                if status == b"silent":
                    return hold(conn, folder)
            else:
                first, _, body = read_file(folder, "reply", b"200 \n").partition(b"\n")
                status, _, mode = first.partition(b" ")
                if mode == b"hangup":
                    return
            length = {b"truncate": len(body) + 1000, b"huge": 3 << 30}.get(mode, len(body))
            conn.sendall(b"HTTP/1.1 " + status + b" X\r\nContent-Type: application/json\r\n"
                         + b"Content-Length: " + str(length).encode() + b"\r\n\r\n"
                         + body[:len(body) // 2])
            if mode == b"reset":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            if mode == b"hold" and not hold(conn, folder):
                return
            conn.sendall(body[len(body) // 2:])
            if mode in (b"truncate", b"huge"):
                return
    except (OSError, ssl.SSLError):
        pass
    finally:
        conn.close()


def main():
    port, cert, key, folder = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    context = None
    if cert != "-":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
    listener = socket.create_server((sys.argv[5], port), backlog=16)  # SO_REUSEADDR set
    print("listening", flush=True)
    while True:
        conn, _ = listener.accept()
        try:
            conn = context.wrap_socket(conn, server_side=True) if context else conn
        except (OSError, ssl.SSLError):
            conn.close()
            continue
        threading.Thread(target=serve, args=(conn, folder), daemon=True).start()


if __name__ == "__main__":
    main()
