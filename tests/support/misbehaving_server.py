#!/usr/bin/env python3
"""HTTP server on 127.0.0.1 that misbehaves on demand, for the tests.

Prints "PORT <n>" on its first output line once it listens. Request paths:
  /chunked/<n>                  200, chunked transfer coding, n body bytes, no Content-Length
  /close/<n>                    200, no Content-Length, n body bytes, then the connection closes
  /drop/<total>/<sent>          200, Content-Length total, sent bytes, then the connection closes
  /stall/<total>/<sent>[/<ms>]  200, Content-Length total, waits ms, sends sent bytes (the last
                                one 150 ms after the others), then holds the connection open
                                until the client goes away
  /status/<code>                that status with a small body of announced length
  /gzip/<n>                     200, Content-Encoding: gzip, the gzip form of n zero bytes
  /redirect/<n>                 302 to /redirect/<n-1>; /redirect/0 answers 200 with 1000 bytes
  /loop                         302 to itself
  /headers                      200, the request's header lines as the body
  /reset/<total>/<sent>         like /drop, but the connection is reset instead of closed
  /endless/close                200, no Content-Length, a body that never ends
  /endless/chunked              200, chunked transfer coding, chunks that never end
  /endless/length/<n>           200, Content-Length n, and all n bytes as fast as they are taken
  /endless/status/<code>        that status, no Content-Length, an error page that never ends
  /endless/modules              200, no Content-Length, a catalogue whose small module elements
                                never end
  /drip/<total>/<ms>[/<bytes>]  200, Content-Length total, then bytes body bytes (1 unless
                                given) every ms milliseconds
With --default PATH, a request for any other path is answered as PATH would be.
Body byte i is always i % 251 (the catalogue flood excepted). With --silent every connection is
accepted and left unanswered. The endless bodies end only when the client goes away.
"""
import argparse
import gzip
import socket
import sys
import threading
import time

PATTERN = bytes(i % 251 for i in range(251))
# Whole periods of the pattern, so that block after block keeps byte i at i % 251.
BLOCK = PATTERN * 261
MODULES_HEAD = b'<?xml version="1.0" encoding="UTF-8"?>\n<modules>\n'
MODULES_BLOCK = b'<module name="Filler" version="1.0.0.1" result="false"/>\n' * 1000


def body(length, start=0):
    out = bytearray()
    offset = start % 251
    while len(out) < length:
        out += PATTERN[offset:]
        offset = 0
    return bytes(out[:length])


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None, b""
        data += chunk
    head = data.split(b"\r\n\r\n", 1)[0]
    line = head.split(b"\r\n", 1)[0].decode("latin-1")
    parts = line.split(" ")
    return (parts[1] if len(parts) >= 2 else "/"), head


def redirect(conn, location):
    conn.sendall(b"HTTP/1.1 302 Found\r\nLocation: %s\r\nContent-Length: 0\r\n"
                 b"Connection: close\r\n\r\n" % location.encode())


def hold_open(conn):
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def stream(conn, block, limit=None, frame=None):
    """Sends block after block until limit bytes are out (never, without one) or the client
    goes away; frame wraps each block (chunked coding)."""
    sent = 0
    while limit is None or sent < limit:
        piece = block if limit is None else block[:limit - sent]
        conn.sendall(frame(piece) if frame else piece)
        sent += len(piece)


def endless(conn, nums, what):
    if what == "close":
        conn.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
        stream(conn, BLOCK)
    elif what == "chunked":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
        stream(conn, BLOCK, frame=lambda piece: b"%x\r\n" % len(piece) + piece + b"\r\n")
    elif what == "length":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                     % nums[0])
        stream(conn, BLOCK, nums[0])
    elif what == "status":
        conn.sendall(b"HTTP/1.1 %d Test\r\nConnection: close\r\n\r\n" % nums[0])
        stream(conn, BLOCK)
    elif what == "modules":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n"
                     + MODULES_HEAD)
        stream(conn, MODULES_BLOCK)


def drip(conn, total, ms, step):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % total)
    for start in range(0, total, step):
        time.sleep(ms / 1000.0)
        conn.sendall(body(min(step, total - start), start))


def answer(conn, path, head=b""):
    parts = [p for p in path.split("?")[0].split("/") if p]
    kind = parts[0] if parts else ""
    nums = [int(p) for p in parts[1:] if p.isdigit()]
    if kind == "gzip":
        data = gzip.compress(bytes(nums[0]))
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: %d\r\n"
                     b"Connection: close\r\n\r\n" % len(data) + data)
    elif kind == "redirect":
        if nums[0] > 0:
            redirect(conn, "/redirect/%d" % (nums[0] - 1))
        else:
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n"
                         + body(1000))
    elif kind == "loop":
        redirect(conn, "/loop")
    elif kind == "headers":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                     % len(head) + head)
    elif kind == "chunked":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
        data = body(nums[0])
        step = max(1, len(data) // 3)
        for i in range(0, len(data), step):
            piece = data[i:i + step]
            conn.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
        conn.sendall(b"0\r\n\r\n")
    elif kind == "close":
        conn.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body(nums[0]))
    elif kind == "reset":
        total, sent = nums[0], nums[1]
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % total + body(sent))
        time.sleep(0.2)
        # Linger on, time 0: close() sends a reset instead of a clean end.
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    elif kind == "drop":
        total, sent = nums[0], nums[1]
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % total + body(sent))
    elif kind == "stall":
        total, sent = nums[0], nums[1]
        delay = nums[2] if len(nums) > 2 else 0
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % total)
        time.sleep(delay / 1000.0)
        if sent > 0:
            # Clients rate-limit progress reports: the last byte comes alone after a pause so
            # that the final count is reported.
            conn.sendall(body(sent - 1))
            time.sleep(0.15)
            conn.sendall(body(1, sent - 1))
        hold_open(conn)
    elif kind == "endless":
        endless(conn, nums, parts[1] if len(parts) > 1 else "")
    elif kind == "drip":
        drip(conn, nums[0], nums[1], nums[2] if len(nums) > 2 else 1)
    elif kind == "status":
        text = b"status %d\n" % nums[0]
        conn.sendall(b"HTTP/1.1 %d Test\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                     % (nums[0], len(text)) + text)
    elif DEFAULT_PATH and path != DEFAULT_PATH:
        answer(conn, DEFAULT_PATH, head)
    else:
        conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


DEFAULT_PATH = None


def serve(conn, silent):
    with conn:
        try:
            if silent:
                hold_open(conn)
                return
            path, head = read_request(conn)
            if path is not None:
                answer(conn, path, head)
        except (OSError, ValueError, IndexError):
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--default")
    args = parser.parse_args()
    global DEFAULT_PATH
    DEFAULT_PATH = args.default
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    sys.stdout.write("PORT %d\n" % listener.getsockname()[1])
    sys.stdout.flush()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, args.silent), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
