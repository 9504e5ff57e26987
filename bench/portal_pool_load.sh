#!/usr/bin/env bash
# Load over HTTP (wrk) on a Release quorvane-portal: world page views (10,000
# rows in the table) and token+submit pairs a second, on SQLite and on
# PostgreSQL with one connection and with the pool. PostgreSQL needs a server
# in the environment: scripts/with-postgres bench/portal_pool_load.sh build-rel
#   bench/portal_pool_load.sh BUILD_DIR [SECONDS] [CONNECTIONS]
# BASELINE=/path/to/an/older/quorvane-portal adds its PostgreSQL figures
# (an older portal without --db-pool) for comparison.
set -euo pipefail
build=${1:?usage: portal_pool_load.sh BUILD_DIR [SECONDS] [CONNECTIONS]}
seconds=${2:-10}
conns=${3:-8}
here=$(cd "$(dirname "$0")" && pwd)
portal=$build/quorvane-portal
command -v wrk >/dev/null || { echo "portal_pool_load: wrk not found (Debian package wrk)" >&2; exit 1; }
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
pid=

serve() {  # db pool (empty: the binary's own default, no --db-pool)
  "${binary:-$portal}" --listen 127.0.0.1:0 --db "$1" ${2:+--db-pool "$2"} --rate 1000000 --burst 1000000 --quiet \
    2>"$work/log" &
  pid=$!
  for _ in $(seq 100); do
    port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/log")
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  cat "$work/log" >&2
  exit 1
}

fill() {  # db: 10,000 rows in the table
  local rows="SELECT 'Seed' || i, (i * 7919) % 100000, 'ready', 1765000000 + i, 'seed' || i"
  local insert="INSERT INTO scores (name, score, motto, created, token)"
  case $1 in
    sqlite:*) sqlite3 "${1#sqlite:}" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000)
      $insert $rows FROM n WHERE NOT EXISTS (SELECT 1 FROM scores WHERE token = 'seed1')" ;;
    *) psql -q -c "$insert $rows FROM generate_series(1, 10000) i WHERE NOT EXISTS (SELECT 1 FROM scores WHERE token = 'seed1')" ;;
  esac
}

rate() {  # wrk output -> requests/s, only when every reply was a success
  awk '/Non-2xx/ { bad = $NF } /^Requests\/sec:/ { r = $2 } END { if (bad) { print "FAIL: " bad " non-2xx replies" > "/dev/stderr"; exit 1 } print r }'
}

run() {  # label db pool
  serve "$2" "$3"
  fill "$2"
  local pages pairs
  pages=$(wrk -t 2 -c "$conns" -d "${seconds}s" "http://127.0.0.1:$port/cgi/version.pl?prg=Quorvane&show&type=0" | rate)
  # Pairs are counted from the scores the portal said it stored; a refusal
  # or an error is no pair.
  local line
  line=$(wrk -t 2 -c "$conns" -d "${seconds}s" -s "$here/portal_submit.lua" "http://127.0.0.1:$port/" | grep 'pairs:')
  pairs=$(sed -n 's/.*= \([0-9]*\) pairs\/s.*/\1/p' <<<"$line")
  printf '%-28s %10.0f page views/s %10.0f token+submit pairs/s (%s)\n' "$1" "$pages" "$pairs" "${line##*; }"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

run "sqlite (pool 4)" "sqlite:$work/portal.db" 4
if [ -n "${PGHOST:-}${PGPORT:-}${PGDATABASE:-}" ]; then
  run "postgresql, one connection" "postgresql://" 1
  run "postgresql, pool of 4" "postgresql://" 4
  if [ -n "${BASELINE:-}" ]; then
    binary=$BASELINE run "postgresql, baseline portal" "postgresql://" ""
  fi
else
  echo "postgresql: skipped (run under scripts/with-postgres)"
fi
