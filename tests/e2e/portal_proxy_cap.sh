#!/usr/bin/env bash
# A trusted reverse proxy carries every player's connections, so the cap on
# connections from one address must not apply to it: with --trust-proxy
# 127.0.0.1/32 and --max-per-address 4, twelve kept-open connections from
# 127.0.0.1 (each naming a client in X-Forwarded-For) are all answered, while
# twelve from the untrusted 127.0.0.2 get four answers and the rest closed.
# usage: portal_proxy_cap.sh PORTAL
set -euo pipefail
portal=$1
tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
"$portal" --listen 127.0.0.1:0 --db "sqlite:$tmp/portal.db" --trust-proxy 127.0.0.1/32 --max-per-address 4 \
  --quiet 2>"$tmp/portal.log" &
pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$tmp/portal.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$tmp/portal.log" >&2; exit 1; }

answered() {  # source address -> replies received on 12 connections opened together
  python3 - "$port" "$1" <<'PY'
import socket, sys, time
port, source = int(sys.argv[1]), sys.argv[2]
socks = []
for i in range(12):
    s = socket.socket()
    s.bind((source, 0))
    s.settimeout(5)
    s.connect(("127.0.0.1", port))
    socks.append(s)
    time.sleep(0.02)
time.sleep(0.3)
answered = 0
for i, s in enumerate(socks):
    try:
        s.sendall(f"GET /healthz HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 203.0.113.{i + 1}\r\n\r\n".encode())
        if s.recv(4096).startswith(b"HTTP/1.1 200"):
            answered += 1
    except OSError:
        pass
print(answered)
PY
}
trusted=$(answered 127.0.0.1)
untrusted=$(answered 127.0.0.2)
echo "answered on 12 connections: trusted proxy $trusted, untrusted peer $untrusted"
[ "$trusted" -eq 12 ] || { echo "FAIL: the trusted proxy was capped" >&2; exit 1; }
[ "$untrusted" -eq 4 ] || { echo "FAIL: the untrusted peer was not held to 4 connections" >&2; exit 1; }
