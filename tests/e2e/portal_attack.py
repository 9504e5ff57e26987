#!/usr/bin/env python3
"""Attacks a running quorvane-portal on 127.0.0.1 as a hostile crowd would and
checks that a fresh client is still served, that memory stays bounded and
(with --sigterm) that the portal stops in time.

The crowd: idle connections from many loopback addresses, connections that
dribble one header line at a time from one address, kept-alive connections
asking for a page every few seconds, and connections that ask for the world
page with thousands of Range entries and never read the reply.

Prints its measurements; exits 1 when a goal is missed."""
import argparse
import os
import resource
import selectors
import socket
import statistics
import sys
import time


def status_kb(pid, field):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def open_from(port, source):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((source, 0))
    s.setblocking(False)
    s.connect_ex(("127.0.0.1", port))
    return s


def read_reply(s, deadline):
    """One whole reply (Content-Length framed): (status, body) or None."""
    data = b""
    while time.monotonic() < deadline:
        s.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            chunk = s.recv(65536)
        except (socket.timeout, OSError):
            return None
        if not chunk:
            return None
        data += chunk
        end = data.find(b"\r\n\r\n")
        if end < 0:
            continue
        head = data[:end].decode("latin-1")
        length = 0
        for line in head.split("\r\n")[1:]:
            name, _, value = line.partition(":")
            if name.strip().lower() == "content-length":
                length = int(value)
        if len(data) >= end + 4 + length:
            return int(head.split()[1]), data[end + 4:end + 4 + length]
    return None


def fetch(port, request, timeout=5.0):
    start = time.monotonic()
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    try:
        s.bind(("127.0.0.1", 0))
        s.connect(("127.0.0.1", port))
        s.sendall(request)
        r = read_reply(s, start + timeout)
    except OSError:
        r = None
    finally:
        s.close()
    return r, time.monotonic() - start


class Crowd:
    def __init__(self, port, idle, idle_addresses, dribblers, dribble_every, keepalive, rangers, world):
        self.port = port
        self.sel = selectors.DefaultSelector()
        self.socks = {}  # socket -> [kind, source, next_time, step]
        self.reconnects = 0
        self.world = world
        ranges = "Range: bytes=0-0" + ",0-" * 2600
        self.range_request = f"GET {world} HTTP/1.1\r\nHost: x\r\n{ranges}\r\n\r\n".encode()
        for i in range(idle):
            self.add("idle", f"127.0.1.{1 + i % idle_addresses}")
        for _ in range(dribblers):
            self.add("dribble", "127.0.2.1")
        for i in range(keepalive):
            self.add("keepalive", f"127.0.3.{1 + i}")
        for i in range(rangers):
            self.add("range", f"127.0.4.{1 + i}")

    def add(self, kind, source):
        try:
            s = open_from(self.port, source)
        except OSError:
            return
        now = time.monotonic()
        self.socks[s] = [kind, source, now + 0.05, 0]
        if kind != "range":  # these never read
            self.sel.register(s, selectors.EVENT_READ)

    def drop(self, s):
        kind, source = self.socks.pop(s)[:2]
        if kind != "range":
            self.sel.unregister(s)
        s.close()
        self.reconnects += 1
        self.add(kind, source)

    def turn(self, dribble_every, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            for key, _ in self.sel.select(timeout=0.05):
                s = key.fileobj
                try:
                    data = s.recv(65536)
                except OSError:
                    data = b""
                if not data and s in self.socks:
                    self.drop(s)
            now = time.monotonic()
            for s, st in list(self.socks.items()):
                kind, _, due, step = st
                if now < due:
                    continue
                try:
                    if kind == "dribble":
                        s.send(b"GET / HTTP/1.1\r\nHost: x\r\n" if step == 0 else b"X-Dribble: %d\r\n" % step)
                        st[2], st[3] = now + dribble_every, step + 1
                    elif kind == "keepalive":
                        s.send(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
                        st[2] = now + 4
                    elif kind == "range" and step == 0:
                        s.send(self.range_request * 4)
                        st[2], st[3] = now + 3600, 1
                    else:
                        st[2] = now + 3600
                except OSError:
                    if s in self.socks:
                        self.drop(s)

    def close(self):
        for s in list(self.socks):
            s.close()
        self.socks.clear()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--pid", type=int, required=True)
    ap.add_argument("--seconds", type=float, default=20)
    ap.add_argument("--idle", type=int, default=500)
    ap.add_argument("--idle-addresses", type=int, default=20, help="loopback addresses the idle ones come from")
    ap.add_argument("--dribblers", type=int, default=100)
    ap.add_argument("--dribble-every", type=float, default=1.0)
    ap.add_argument("--path", default="/healthz")
    ap.add_argument("--world", default="/cgi/version.pl?prg=Quorvane&show&type=0")
    ap.add_argument("--sigterm", action="store_true", help="end with SIGTERM and time the exit")
    ap.add_argument("--max-mb", type=float, default=100)
    args = ap.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 8192), hard))

    probe_path = args.path
    r, _ = fetch(args.port, f"GET {probe_path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
    if not r or r[0] == 404:
        probe_path = "/"
    page, _ = fetch(args.port, f"GET {args.world} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
    if not page or page[0] != 200:
        print("portal_attack: FAIL: the world page does not answer", file=sys.stderr)
        return 1
    rss_before = status_kb(args.pid, "VmRSS")

    crowd = Crowd(args.port, args.idle, args.idle_addresses, args.dribblers, args.dribble_every, 8, 8, args.world)
    crowd.turn(args.dribble_every, 1.0)
    probe = f"GET {probe_path} HTTP/1.1\r\nHost: x\r\n\r\n".encode()
    times, failures, peak_rss = [], 0, 0
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        r, t = fetch(args.port, probe)
        if not r or r[0] != 200:
            failures += 1
        times.append(t)
        peak_rss = max(peak_rss, status_kb(args.pid, "VmRSS"))
        crowd.turn(args.dribble_every, 0.25)
    ranged, _ = fetch(args.port, crowd.range_request)
    open_now = len(crowd.socks)
    ok = True
    over = sum(1 for t in times if t > 1.0)
    print(f"probe GET {probe_path}: {len(times)} fresh clients under attack, median {statistics.median(times)*1000:.1f} ms, "
          f"max {max(times)*1000:.1f} ms, over 1 s: {over}, failed: {failures}")
    print(f"crowd: {args.idle} idle from {args.idle_addresses} address(es), {args.dribblers} dribbling one header line every "
          f"{args.dribble_every:g} s from one address, 8 kept-alive, 8 unread ranged; {crowd.reconnects} reconnects")
    hwm = status_kb(args.pid, "VmHWM")
    print(f"memory: RSS {rss_before/1024:.1f} MB before, {peak_rss/1024:.1f} MB at most under attack (VmHWM {hwm/1024:.1f} MB)")
    if over or failures:
        ok = False
    if peak_rss / 1024 > args.max_mb:
        ok = False
    if not ranged or ranged[0] != 200 or len(ranged[1]) > len(page[1]) + 65536:
        print(f"range: FAIL: {ranged[0] if ranged else 'no'} reply" +
              (f", {len(ranged[1])} bytes" if ranged else ""))
        ok = False
    else:
        print(f"range: 2,600 ranges get {len(ranged[1])} bytes for a {len(page[1])}-byte page "
              f"(request {len(crowd.range_request)} bytes)")
    if args.sigterm:
        start = time.monotonic()
        os.kill(args.pid, 15)
        while alive(args.pid) and time.monotonic() - start < 30:
            crowd.turn(args.dribble_every, 0.02)
        took = time.monotonic() - start
        print(f"sigterm: under attack ({open_now} connections), gone after {took:.2f} s")
        if took > 6:
            ok = False
    crowd.close()
    print("portal_attack: " + ("PASS" if ok else "FAIL"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
