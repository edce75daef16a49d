#!/usr/bin/env python3
"""Measures tunnels as browsers open them for HTTPS: a fresh connection, a CONNECT
to the origin through the proxy (or, without a proxy, the connection alone), then
one GET of a small page inside the tunnel, and the connection closed.

    tunnel_load.py latency --origin HOST:PORT [--proxy PORT] --path /small.html --count N
        one tunnel after another; prints "p50_us P99_us"
    tunnel_load.py rate --origin HOST:PORT [--proxy PORT] --path /small.html
                        --concurrency C --seconds S
        C tunnels at a time for S seconds; prints "tunnels_per_second errors"
"""
import argparse
import asyncio
import time


def content_length(head):
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            return int(value.strip())
    return 0


async def read_head(reader):
    return await reader.readuntil(b"\r\n\r\n")


async def one_tunnel(origin, proxy, path):
    host, port = origin.split(":")
    reader, writer = await asyncio.open_connection("127.0.0.1", proxy or int(port))
    try:
        if proxy:
            writer.write(f"CONNECT {origin} HTTP/1.1\r\nHost: {origin}\r\n\r\n".encode())
            head = await read_head(reader)
            if b" 200 " not in head.split(b"\r\n")[0]:
                raise ConnectionError(head)
        writer.write(f"GET {path} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
        head = await read_head(reader)
        await reader.readexactly(content_length(head))
        if b" 200 " not in head.split(b"\r\n")[0]:
            raise ConnectionError(head)
    finally:
        writer.close()


async def latency(args):
    times = []
    for _ in range(args.count):
        start = time.perf_counter()
        await one_tunnel(args.origin, args.proxy, args.path)
        times.append((time.perf_counter() - start) * 1e6)
    times.sort()
    print(f"{times[len(times) // 2]:.0f} {times[int(len(times) * 0.99)]:.0f}")


async def rate(args):
    done = errors = 0
    deadline = time.monotonic() + args.seconds

    async def worker():
        nonlocal done, errors
        while time.monotonic() < deadline:
            try:
                await asyncio.wait_for(one_tunnel(args.origin, args.proxy, args.path), 5)
                done += 1
            except (OSError, ConnectionError, asyncio.TimeoutError, asyncio.IncompleteReadError):
                errors += 1

    start = time.monotonic()
    await asyncio.gather(*(worker() for _ in range(args.concurrency)))
    print(f"{done / (time.monotonic() - start):.0f} {errors}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("mode", choices=("latency", "rate"))
    parser.add_argument("--origin", required=True)
    parser.add_argument("--proxy", type=int, default=0)
    parser.add_argument("--path", default="/small.html")
    parser.add_argument("--count", type=int, default=2000)
    parser.add_argument("--concurrency", type=int, default=50)
    parser.add_argument("--seconds", type=float, default=10)
    args = parser.parse_args()
    asyncio.run(latency(args) if args.mode == "latency" else rate(args))


if __name__ == "__main__":
    main()
