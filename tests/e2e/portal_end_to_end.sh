#!/usr/bin/env bash
# End to end on 127.0.0.1: a real quorvane-portal (free port, temporary
# SQLite file) that verifies replays with quorvane-headless workers, the game
# driven by quorvane-headless with --portal playing a top-ten game and sending
# its score and its replay, the world page as headless Chromium shows it once
# the portal has played the game back, and the replay downloaded from there.
# The page's screenshot stays in OUT for people to look at.
# usage: portal_end_to_end.sh PORTAL HEADLESS GAME_DIR OUT
# Exits 77 (skipped) when Chromium is missing.
set -euo pipefail
portal_bin=$1 headless_bin=$2 game_dir=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "portal_end_to_end: SKIP: no chromium (Debian package chromium)" >&2
  exit 77
fi

tmp=$(mktemp -d)
portal_pid=
cleanup() {
  if [ -n "$portal_pid" ]; then kill -TERM "$portal_pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "portal_end_to_end: FAIL: $*" >&2
  echo "--- portal log" >&2
  cat "$tmp/portal.log" >&2 || true
  exit 1
}

# A program folder of our own, whose high-score table is empty (ten rows of
# no name and score 0) so that the played game makes the top ten, and whose
# motto is "from e2e". Config.cfg: 232 bytes, scores XORed with 31517.
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.json "$out"/*.html "$out"/*.qvr
cp -r "$game_dir" "$tmp/game"
rm -rf "$tmp/game/replays"
{
  printf '\000\000\001\001'
  printf '\010from e2e'
  head -c 7 /dev/zero
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    head -c 16 /dev/zero
    printf '\035\173\000\000'
  done
  head -c 12 /dev/zero
} > "$tmp/game/Config.cfg"
[ "$(stat -c %s "$tmp/game/Config.cfg")" = 232 ] || fail "Config.cfg is not 232 bytes"

# Verification on: the game's data and the worker under test. The defaults of
# --verify-cpu (20 s) and --verify-wall (40 s) leave room for a sanitized
# worker on a busy machine; this short game takes a fraction of that.
: > "$tmp/portal.log" # before the portal opens it, so that the wait below can read it
"$portal_bin" --listen 127.0.0.1:0 --db "sqlite:$tmp/scores.db" \
  --game-data "$game_dir" --verify-worker "$headless_bin" 2> "$tmp/portal.log" &
portal_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's|^quorvane-portal: listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$tmp/portal.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the portal did not start"
base="http://127.0.0.1:$port"
grep -q "^quorvane-portal: verifying replays with $headless_bin " "$tmp/portal.log" ||
  fail "the portal does not say it verifies replays"
[ "$(curl -sf "$base/healthz")" = ok ] || fail "/healthz: $(curl -s "$base/healthz")"

"$headless_bin" --program-dir "$tmp/game" --script "$here/top_ten_game.txt" --out "$out" --portal "$base" \
  > "$tmp/headless.log" 2>&1 || { cat "$tmp/headless.log" >&2; fail "quorvane-headless failed"; }
grep -q '"screen": "EnterName"' "$out/entername.json" || fail "the game did not reach the name entry"
grep -q '"score": 90,' "$out/entername.json" || fail "the played game did not score 90"
# Sent: no "Can't connect to server!", and on to the local table.
grep -q '"screen": "HiScores"' "$out/after_send.json" || fail "the game did not go on to HiScores after sending"
grep -q '"messageBoxes": \[\]' "$out/after_send.json" || fail "the game showed a message: $(grep messageBoxes "$out/after_send.json")"
grep -q ' POST /api/replays?token=[^ ]* 202 ' "$tmp/portal.log" || fail "the game sent no replay that the portal took"
recorded=("$tmp"/game/replays/top-90-Zed-*.qvr)
[ ${#recorded[@]} = 1 ] && [ -s "${recorded[0]}" ] || fail "the game kept no replay of its top-ten game: ${recorded[*]}"
[ -z "$(ls -A "$tmp/game/replays/outbox" 2>/dev/null)" ] || fail "the replay still waits in the outbox"

# The row is ranked once a worker has played the game back (the default
# /api/scores lists verified rows only). A refusal ends the wait at once.
json=
for _ in $(seq 120); do
  json=$(curl -sf "$base/api/scores") || fail "/api/scores did not answer"
  case $json in *'"name":"Zed","score":90,'*'"state":"verified"'*) break ;; esac
  every=$(curl -sf "$base/api/scores?all=1") || fail "/api/scores?all=1 did not answer"
  case $every in *'"state":"refused"'*) fail "the portal refused the game's replay: $every" ;; esac
  json=
  sleep 0.5
done
[ -n "$json" ] || fail "the row was not verified within 60 s: $(curl -s "$base/api/scores?all=1")"
link=$(printf '%s' "$json" | grep -o '"replay":"/replays/[0-9]*\.qvr"' | head -1 | cut -d'"' -f4)
[ -n "$link" ] || fail "the verified row has no replay link: $json"
printf '%s' "$json" | grep -q '"length":"[0-9]' || fail "the verified row has no game length: $json"

# The default world page (verified rows) with the row and its download link.
world="$base/cgi/version.pl?prg=Quorvane&show&type=0"
chrome=(--headless --no-sandbox --disable-gpu --user-data-dir="$tmp/chrome" --no-first-run
  --disable-background-networking --disable-component-update --disable-sync --disable-default-apps
  --hide-scrollbars)
timeout 120 "$browser" "${chrome[@]}" --dump-dom "$world" > "$out/world.html" 2> "$tmp/chrome.log" ||
  fail "chromium could not load the world page"
grep -q "<td>1</td><td>Zed</td><td class=\"score\">90</td><td>from e2e</td><td>[^<]*</td><td>[^<]* <a href=\"$link\" download=\"\">replay</a></td></tr>" \
  "$out/world.html" ||
  fail "the world page does not show Zed with 90 points and $link: $(grep -o '<tbody>.*' "$out/world.html" | head -c 600)"
timeout 120 "$browser" "${chrome[@]}" --window-size=800,520 --screenshot="$out/world.png" "$world" \
  2>> "$tmp/chrome.log" >/dev/null || fail "chromium could not take the screenshot"
[ -s "$out/world.png" ] || fail "no screenshot"

# The download is the game's recording, byte for byte, and plays back here.
curl -sf -D "$tmp/download.headers" -o "$out/download.qvr" "$base$link" || fail "GET $link failed"
grep -qi '^content-disposition: attachment; filename="quorvane-Zed-90.qvr"' "$tmp/download.headers" ||
  fail "GET $link: $(cat "$tmp/download.headers")"
cmp "$out/download.qvr" "${recorded[0]}" || fail "$link differs from what the game recorded"
"$headless_bin" --program-dir "$game_dir" --replay "$out/download.qvr" --verify > "$tmp/verify.log" 2>&1 ||
  { cat "$tmp/verify.log" >&2; fail "$link does not --verify"; }

# One log line per request, and SIGTERM stops the portal cleanly.
grep -q ' GET /cgi/version.pl?version&prg=Quorvane 200 ' "$tmp/portal.log" || fail "no log line for the token"
grep -q ' GET /cgi/version.pl?hs&prg=Quorvane&inf=[A-Y1-9]* 200 ' "$tmp/portal.log" || fail "no log line for the score"
kill -TERM "$portal_pid"
rc=0
wait "$portal_pid" || rc=$?
portal_pid=
[ "$rc" = 0 ] || fail "the portal exited with $rc on SIGTERM"
grep -q '^quorvane-portal: stopped' "$tmp/portal.log" || fail "the portal did not say it stopped"
echo "portal_end_to_end: Zed's 90 points went through $base and were verified; screenshot: $out/world.png"
