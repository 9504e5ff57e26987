#!/usr/bin/env bash
# A few seconds of concurrent requests against a real quorvane-portal:
# workers that each fetch tokens and send scores with them, read the world
# page and the JSON, and send garbage, all at once. Every fresh token must
# buy one stored score, the JSON must count them, and SIGTERM must end the
# portal with status 0. Run under ThreadSanitizer by scripts/test, where a
# report makes the portal exit non-zero (TSAN_OPTIONS exitcode).
# Usage: portal_load.sh PORTAL WORKDIR [SECONDS] [WORKERS]
set -euo pipefail
portal=$1 work=$2 seconds=${3:-5} workers=${4:-8}
command -v curl >/dev/null || { echo "portal_load: curl is missing (scripts/deps)" >&2; exit 77; }
rm -rf "$work" && mkdir -p "$work"

# The game's encoding of a submission: the bytes' bits, five at a time, as
# letters of this alphabet.
alphabet=ABCDEFGHJKLMNPQRSTUVWXY123456789
inf() {
  local text=$1 bits="" out="" i c b
  for ((i = 0; i < ${#text}; i++)); do
    printf -v c '%d' "'${text:i:1}"
    for ((b = 7; b >= 0; b--)); do bits+=$(((c >> b) & 1)); done
  done
  while ((${#bits} % 5)); do bits="0$bits"; done
  for ((i = 0; i < ${#bits}; i += 5)); do out+=${alphabet:$((2#${bits:i:5})):1}; done
  printf '%s' "$out"
}

"$portal" --listen 127.0.0.1:0 --db "sqlite:$work/scores.db" --rate 1000000 --burst 1000000 --quiet \
  2>"$work/portal.log" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/portal.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "portal_load: the portal did not start" >&2; cat "$work/portal.log" >&2; exit 1; }
base=http://127.0.0.1:$port

worker() {
  local n=$1 end=$((SECONDS + seconds)) sent=0 token reply text
  while ((SECONDS < end)); do
    reply=$(curl -sf "$base/cgi/version.pl?version&prg=Quorvane") || { echo "token query failed" >&2; return 1; }
    token=$(cut -d'|' -f5 <<<"$reply")
    text="type=0|name=Load$n|score=$((sent + 1))|key=Q|p=$token|add=m|z="
    while ((${#text} % 5)); do text+=0; done
    reply=$(curl -sf "$base/cgi/version.pl?hs&prg=Quorvane&inf=$(inf "$text")") || true
    [ "${reply:0:2}" = OK ] || { echo "worker $n: a fresh token was refused: $reply" >&2; return 1; }
    sent=$((sent + 1))
    curl -sf "$base/cgi/version.pl?prg=Quorvane&show&type=0" "$base/api/scores?limit=100" \
      "$base/" >/dev/null || { echo "worker $n: a page failed" >&2; return 1; }
    curl -s "$base/cgi/version.pl?hs&prg=Quorvane&inf=QT61A3K" "$base/nothing" >/dev/null || true
  done
  echo "$sent" >"$work/sent.$n"
}

pids=()
for n in $(seq "$workers"); do
  worker "$n" &
  pids+=($!)
done
failed=0
for p in "${pids[@]}"; do wait "$p" || failed=1; done
[ $failed = 0 ] || { echo "portal_load: a worker failed" >&2; exit 1; }

sent=0
for f in "$work"/sent.*; do sent=$((sent + $(cat "$f"))); done
# Every row sent, verified or not (these scores send no replay).
stored=$( (curl -sf "$base/api/scores?limit=100&all=1" | grep -o '"rank":' || true) | wc -l)
expect=$((sent < 100 ? sent : 100))
[ "$stored" -eq "$expect" ] || { echo "portal_load: $sent sent, $stored listed (want $expect)" >&2; exit 1; }

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
trap - EXIT
echo "portal_load: $workers workers, ${seconds}s: $sent scores sent and stored; portal exit status $status"
[ "$status" -eq 0 ] || { cat "$work/portal.log" >&2; exit 1; }
