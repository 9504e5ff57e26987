#!/usr/bin/env bash
# Load and attack figures of quorvane-portal on 127.0.0.1 (Release build):
#   1. token+submit pairs a second (wrk, the game's own requests); this also
#      fills the table past 10,000 rows;
#   2. world page views a second with that table;
#   3. tests/e2e/portal_attack.py: a fresh client's latency under 500 idle and
#      100 dribbling connections, unread ranged replies, peak memory, and the
#      time SIGTERM takes under that attack.
# usage: bench/portal_load.sh PORTAL [SECONDS] [sqlite|postgresql://...]
# Needs wrk (Debian package wrk) and python3.
set -euo pipefail
portal=$1 seconds=${2:-10} db=${3:-sqlite}
here=$(cd "$(dirname "$0")" && pwd)
command -v wrk >/dev/null || { echo "portal_load: needs wrk (apt-get install wrk)" >&2; exit 1; }

tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
if [ "$db" = sqlite ]; then db="sqlite:$tmp/portal.db"; fi

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
start_portal() {
  "$portal" --listen 127.0.0.1:"$port" --db "$db" --quiet --rate 1000000 --burst 1000000 "$@" 2>"$tmp/portal.log" &
  pid=$!
  for _ in $(seq 50); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/"; then return 0; fi
    sleep 0.1
  done
  echo "portal_load: the portal did not start" >&2
  cat "$tmp/portal.log" >&2
  exit 1
}
stop_portal() {
  kill -TERM "$pid"
  wait "$pid" || true
  pid=
}

start_portal
echo "== token+submit pairs, 8 connections, 2 threads, ${seconds} s"
wrk -t2 -c8 -d"${seconds}s" -s "$here/portal_submit.lua" "http://127.0.0.1:$port/" >"$tmp/wrk.txt"
grep -E "pairs|Latency" "$tmp/wrk.txt"
total=$(sed -n 's/.*pairs: \([0-9]*\) stored.*/\1/p' "$tmp/wrk.txt")
# The page views below want a table of at least 10,000 rows.
while [ "${total:-0}" -lt 10000 ]; do
  wrk -t2 -c8 -d2s -s "$here/portal_submit.lua" "http://127.0.0.1:$port/" >"$tmp/wrk.txt"
  n=$(sed -n 's/.*pairs: \([0-9]*\) stored.*/\1/p' "$tmp/wrk.txt")
  [ "${n:-0}" -gt 0 ] || { echo "portal_load: no submission stored" >&2; exit 1; }
  total=$((total + n))
done
echo "table: $total rows"
echo "== world page views (10k+ rows), 8 connections, 2 threads, ${seconds} s"
curl -s -o "$tmp/world.html" "http://127.0.0.1:$port/cgi/version.pl?prg=Quorvane&show&type=0"
echo "page: $(wc -c <"$tmp/world.html") bytes"
wrk -t2 -c8 -d"${seconds}s" "http://127.0.0.1:$port/cgi/version.pl?prg=Quorvane&show&type=0" |
  grep -E "Requests/sec|Latency|Non-2xx"
stop_portal

echo "== attack: ${seconds} s, then SIGTERM under attack"
start_portal
set +e
python3 "$here/../tests/e2e/portal_attack.py" --port "$port" --pid "$pid" --seconds "$seconds" --sigterm
attack=$?
wait "$pid"
code=$?
pid=
set -e
echo "exit status after SIGTERM: $code"
[ "$attack" -eq 0 ] && [ "$code" -eq 0 ]
