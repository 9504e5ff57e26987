#!/usr/bin/env bash
# The portal under a short attack (portal_attack.py): a real quorvane-portal
# on a free port of 127.0.0.1 with a temporary SQLite file. Fails when a fresh
# client waits over 1 s, a ranged reply outgrows its page, memory passes
# MAX_MB, or SIGTERM under attack takes over 6 s or exits non-zero.
# usage: portal_attack.sh PORTAL [SECONDS] [MAX_MB]
set -euo pipefail
portal=$1 seconds=${2:-10} max_mb=${3:-100}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$portal" --listen 127.0.0.1:"$port" --db "sqlite:$tmp/portal.db" --quiet 2>"$tmp/portal.log" &
pid=$!
for _ in $(seq 100); do
  if python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null; then break; fi
  sleep 0.1
done
set +e
python3 "$here/portal_attack.py" --port "$port" --pid "$pid" --seconds "$seconds" --max-mb "$max_mb" --sigterm
attack=$?
wait "$pid"
code=$?
pid=
set -e
echo "portal exit status after SIGTERM: $code"
if [ "$attack" -ne 0 ] || [ "$code" -ne 0 ]; then
  echo "--- portal log" >&2
  cat "$tmp/portal.log" >&2
  exit 1
fi
