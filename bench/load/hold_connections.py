#!/usr/bin/env python3
"""Opens many keep-alive connections through a proxy and holds them open.

Each connection sends one keep-alive request for the absolute URL and reads the whole
answer. Then the script prints "ready answered=N open=M" (M: connections the proxy has
not closed) and keeps every socket open until it is terminated or the hold time runs out.
"""
import argparse
import socket
import time


def read_answer(sock, deadline):
    """Reads one HTTP answer with a Content-Length body; true when it arrived whole."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = receive_more(sock, deadline)
        if not chunk:
            return False
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    status_line = head.split(b"\r\n")[0]
    length = content_length(head)
    if length is None or not status_line.startswith(b"HTTP/1.") or b" 200 " not in status_line:
        return False
    while len(body) < length:
        chunk = receive_more(sock, deadline)
        if not chunk:
            return False
        body += chunk
    return True


def receive_more(sock, deadline):
    """The next bytes of the answer; empty at end-of-file, on an error or past the deadline."""
    remaining = deadline - time.monotonic()
    if remaining <= 0:
        return b""
    sock.settimeout(remaining)
    try:
        return sock.recv(65536)
    except OSError:
        return b""


def content_length(head):
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            return int(value.strip())
    return None


def still_open(sock):
    """A connection still open has nothing to read (a closed one reads end-of-file)."""
    sock.setblocking(False)
    try:
        return sock.recv(1, socket.MSG_PEEK) != b""
    except BlockingIOError:
        return True
    except OSError:
        return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--proxy-port", type=int, required=True)
    parser.add_argument("--url", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--count", type=int, default=500)
    parser.add_argument("--timeout", type=float, default=20.0)
    parser.add_argument("--hold", type=float, default=60.0)
    options = parser.parse_args()

    request = (
        f"GET {options.url} HTTP/1.1\r\nHost: {options.host}\r\n"
        "Connection: keep-alive\r\nUser-Agent: lumbra-load-bench\r\n\r\n"
    ).encode()
    deadline = time.monotonic() + options.timeout
    sockets = []
    for _ in range(options.count):
        sock = socket.create_connection(("127.0.0.1", options.proxy_port), timeout=5)
        sock.sendall(request)
        sockets.append(sock)
    answered = sum(1 for sock in sockets if read_answer(sock, deadline))
    time.sleep(0.5)
    open_count = sum(1 for sock in sockets if still_open(sock))
    print(f"ready answered={answered} open={open_count}", flush=True)

    time.sleep(options.hold)
    for sock in sockets:
        sock.close()


if __name__ == "__main__":
    main()
